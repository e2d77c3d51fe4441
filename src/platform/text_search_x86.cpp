// The vector paths of MultiSearch on x86-64: SSE2, which every such
// processor has, and AVX2 where the processor has it (built apart, in
// text_search_avx2.cpp).

#include <emmintrin.h>

#include "platform/text_search_loop.h"
#include "platform/text_search_vector.h"

namespace a5merge {

namespace vector_search {
std::size_t ScanAvx2(const ProbeBytes& probes, const char* p, std::size_t size, Candidate candidate,
                     void* context);
}  // namespace vector_search

namespace {

using namespace vector_search;

struct Sse2 {
    using Vector = __m128i;
    static constexpr std::size_t kWidth = 16;
    static Vector Splat(unsigned char c) { return _mm_set1_epi8(static_cast<char>(c)); }
    static Vector Load(const char* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    }
    static Vector Equal(Vector a, Vector b) { return _mm_cmpeq_epi8(a, b); }
    static Vector Or(Vector a, Vector b) { return _mm_or_si128(a, b); }
    static Vector And(Vector a, Vector b) { return _mm_and_si128(a, b); }
    static Vector AndNot(Vector a, Vector b) { return _mm_andnot_si128(a, b); }
    static unsigned Mask(Vector v) { return static_cast<unsigned>(_mm_movemask_epi8(v)); }
};

struct Visit {
    const MultiSearch* search;
    std::string_view block;
    std::vector<MultiSearch::Event>* events;
};

}  // namespace

bool VectorSearchBuilt() { return true; }

std::size_t VectorScan::Run(const MultiSearch& search, SearchPath path, std::string_view block,
                            std::vector<MultiSearch::Event>& events) {
    ProbeBytes bytes;
    for (const MultiSearch::Probe& probe : search.probes_) {
        if (probe.single) {
            if (bytes.singles == ProbeBytes::kMaxSingles) return 0;  // the plain path does it all
            bytes.single[bytes.singles++] = probe.first;
        } else {
            bytes.first[bytes.pairs] = probe.first;
            bytes.second[bytes.pairs++] = probe.second;
        }
    }
    Visit visit{&search, block, &events};
    const Candidate candidate = [](void* context, std::size_t at) {
        const auto* v = static_cast<Visit*>(context);
        v->search->Check(v->block, at, *v->events);
    };
    static const bool hasAvx2 = __builtin_cpu_supports("avx2");
    const Scan scan = path == SearchPath::Vector && hasAvx2 ? ScanAvx2 : ScanAny<Sse2>;
    return scan(bytes, block.data(), block.size(), candidate, &visit);
}

}  // namespace a5merge
