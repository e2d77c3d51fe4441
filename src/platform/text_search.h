#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace a5merge {

// A fixed text to look for, case-sensitively, anywhere in a line or a block.
class Needle {
public:
    explicit Needle(std::string_view text) : text_(text) {}

    std::size_t size() const { return text_.size(); }
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

}  // namespace a5merge
