#include "text_search.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace psmerge {

Needle::Needle(std::string_view text) : text_(text) {
    std::fill(std::begin(skip_), std::end(skip_), std::max<std::size_t>(text.size(), 1));
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        skip_[static_cast<unsigned char>(text[i])] = text.size() - 1 - i;
    }
}

std::size_t Needle::Find(std::string_view haystack) const {
    const std::size_t n = text_.size();
    if (n == 0) return 0;
    if (haystack.size() < n) return std::string_view::npos;
    const char last = text_[n - 1];
    const char* const begin = haystack.data();
    const char* at = begin;
    const char* const stop = begin + haystack.size() - n;
    while (at <= stop) {
        const char c = at[n - 1];
        if (c == last && std::memcmp(at, text_.data(), n - 1) == 0) {
            return static_cast<std::size_t>(at - begin);
        }
        at += skip_[static_cast<unsigned char>(c)];
    }
    return std::string_view::npos;
}

void StreamSearch::Feed(std::string_view piece) {
    if (found_ || piece.empty()) return;
    const std::size_t keep = needle_.size() > 0 ? needle_.size() - 1 : 0;
    if (!tail_.empty()) {
        // An occurrence that starts in the tail and ends in this piece.
        std::string join = tail_;
        join.append(piece.substr(0, keep));
        if (needle_.In(join)) {
            found_ = true;
            return;
        }
    }
    if (needle_.In(piece)) {
        found_ = true;
        return;
    }
    if (piece.size() >= keep) {
        tail_.assign(piece.substr(piece.size() - keep));
    } else {
        tail_.append(piece);
        tail_.erase(0, tail_.size() > keep ? tail_.size() - keep : 0);
    }
}

}  // namespace psmerge
