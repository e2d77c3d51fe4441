#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace a5merge {

// A fixed text to look for, case-sensitively, anywhere in a line or a block.
class Needle {
public:
    explicit Needle(std::string_view text) : text_(text) {}

    std::size_t size() const { return text_.size(); }
    const std::string& text() const { return text_; }
    // Position of the first occurrence, or npos.
    std::size_t Find(std::string_view haystack) const;
    bool In(std::string_view haystack) const { return Find(haystack) != std::string_view::npos; }

private:
    std::string text_;
};

// Whether a needle occurs in a stream read in pieces, also across the joins.
class StreamSearch {
public:
    explicit StreamSearch(const Needle& needle) : needle_(needle) {}

    void Feed(std::string_view piece);
    bool found() const { return found_; }

private:
    const Needle& needle_;
    std::string tail_;  // the last size()-1 bytes fed
    bool found_ = false;
};

// How a MultiSearch looks: with the widest vector instructions the build and
// the processor have, with the narrowest that every processor of its kind
// has, or a byte at a time. All find the same; the tests run each. The widest
// is the default.
enum class SearchPath { Vector, BaseVector, Plain };
void SetSearchPath(SearchPath path);
SearchPath CurrentSearchPath();
// Whether this build has a vector path (else every path is Plain).
bool VectorSearchBuilt();

// Several needles looked for in one pass over a block of text, together with
// the line ends that are not CR LF. The needles hold no CR.
class MultiSearch {
public:
    static constexpr std::size_t kMaxNeedles = 6;
    static constexpr int kLoneCr = -1;

    // An occurrence of needle `needle` (its index) starting at `at`, or, with
    // kLoneCr, a CR at `at` that no LF follows (also one that ends the block).
    struct Event {
        std::size_t at;
        int needle;
        bool operator==(const Event&) const = default;
    };

    explicit MultiSearch(std::vector<const Needle*> needles);

    // Replaces `events` with every event in `block`, by position.
    void Scan(std::string_view block, std::vector<Event>& events) const;

    // A pair of bytes every occurrence of some needles holds: `first`, then
    // `second` unless `single`. Each needle is found by its rarest pair.
    struct Probe {
        unsigned char first;
        unsigned char second;
        bool single;
        std::uint8_t needles;  // bit i: needle i holds the pair, at anchor_[i]
    };

private:
    void Check(std::string_view block, std::size_t at, std::vector<Event>& events) const;

    std::vector<const Needle*> needles_;
    std::array<std::size_t, kMaxNeedles> anchor_{};  // where each needle's pair stands
    std::vector<Probe> probes_;
    std::array<bool, 256> firstByte_{};  // bytes that start a probe, and CR

    friend struct VectorScan;
};

}  // namespace a5merge
