#include "platform/text_search.h"

#include <string.h>  // memmem (POSIX)

namespace a5merge {

std::size_t Needle::Find(std::string_view haystack) const {
    const void* at = ::memmem(haystack.data(), haystack.size(), text_.data(), text_.size());
    return at == nullptr ? std::string_view::npos
                         : static_cast<std::size_t>(static_cast<const char*>(at) - haystack.data());
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

}  // namespace a5merge
