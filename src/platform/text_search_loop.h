#pragma once

// The vector loop of MultiSearch, written once for any vector width. Each
// file that includes it gets its own copy (an unnamed namespace), so that a
// file built for wider instructions shares no code with the others.

#include <cstddef>

namespace a5merge::vector_search {

// The probes of a MultiSearch as plain bytes: `singles` bytes that are
// candidates alone, and `pairs` pairs of a byte and the byte after it.
struct ProbeBytes {
    static constexpr int kMaxSingles = 2;
    static constexpr int kMaxPairs = 6;
    int singles = 0;
    int pairs = 0;
    unsigned char single[kMaxSingles] = {};
    unsigned char first[kMaxPairs] = {};
    unsigned char second[kMaxPairs] = {};
};

// Called for each candidate position, in order.
using Candidate = void (*)(void* context, std::size_t at);

// Finds the candidates of `p[0..size)` a vector at a time: a CR that no LF
// follows, a single byte, or a pair. Returns where it stopped: the plain
// path looks at the last bytes (fewer than a vector and one).
using Scan = std::size_t (*)(const ProbeBytes& probes, const char* p, std::size_t size,
                             Candidate candidate, void* context);

namespace {

// The loop for a fixed number of probes, so that the compiler unrolls it and
// keeps every probe in a register. `Lanes` wraps one kind of vector.
template <class Lanes, int Singles, int Pairs>
std::size_t ScanWith(const ProbeBytes& probes, const char* p, std::size_t size, Candidate candidate,
                     void* context) {
    using V = typename Lanes::Vector;
    V single[Singles > 0 ? Singles : 1];
    V first[Pairs > 0 ? Pairs : 1];
    V second[Pairs > 0 ? Pairs : 1];
    for (int k = 0; k < Singles; ++k) single[k] = Lanes::Splat(probes.single[k]);
    for (int k = 0; k < Pairs; ++k) {
        first[k] = Lanes::Splat(probes.first[k]);
        second[k] = Lanes::Splat(probes.second[k]);
    }
    const V cr = Lanes::Splat('\r');
    const V lf = Lanes::Splat('\n');

    std::size_t at = 0;
    // Each step reads one byte past its vector, so it stops a byte early.
    for (; at + Lanes::kWidth + 1 <= size; at += Lanes::kWidth) {
        const V here = Lanes::Load(p + at);
        const V next = Lanes::Load(p + at + 1);
        V hits = Lanes::AndNot(Lanes::Equal(next, lf), Lanes::Equal(here, cr));
        for (int k = 0; k < Singles; ++k) hits = Lanes::Or(hits, Lanes::Equal(here, single[k]));
        for (int k = 0; k < Pairs; ++k) {
            hits = Lanes::Or(
                hits, Lanes::And(Lanes::Equal(here, first[k]), Lanes::Equal(next, second[k])));
        }
        for (unsigned mask = Lanes::Mask(hits); mask != 0; mask &= mask - 1) {
            candidate(context, at + static_cast<std::size_t>(__builtin_ctz(mask)));
        }
    }
    return at;
}

// The loop for the numbers of probes in `probes`.
template <class Lanes>
std::size_t ScanAny(const ProbeBytes& probes, const char* p, std::size_t size, Candidate candidate,
                    void* context) {
    using Loop = std::size_t (*)(const ProbeBytes&, const char*, std::size_t, Candidate, void*);
    static const Loop kLoops[ProbeBytes::kMaxSingles + 1][ProbeBytes::kMaxPairs + 1] = {
        {ScanWith<Lanes, 0, 0>, ScanWith<Lanes, 0, 1>, ScanWith<Lanes, 0, 2>, ScanWith<Lanes, 0, 3>,
         ScanWith<Lanes, 0, 4>, ScanWith<Lanes, 0, 5>, ScanWith<Lanes, 0, 6>},
        {ScanWith<Lanes, 1, 0>, ScanWith<Lanes, 1, 1>, ScanWith<Lanes, 1, 2>, ScanWith<Lanes, 1, 3>,
         ScanWith<Lanes, 1, 4>, ScanWith<Lanes, 1, 5>, ScanWith<Lanes, 1, 6>},
        {ScanWith<Lanes, 2, 0>, ScanWith<Lanes, 2, 1>, ScanWith<Lanes, 2, 2>, ScanWith<Lanes, 2, 3>,
         ScanWith<Lanes, 2, 4>, ScanWith<Lanes, 2, 5>, ScanWith<Lanes, 2, 6>},
    };
    return kLoops[probes.singles][probes.pairs](probes, p, size, candidate, context);
}

}  // namespace

}  // namespace a5merge::vector_search
