#pragma once

// The vector paths of MultiSearch, in files of their own for each kind of
// processor; a build without one has a stand-in that scans nothing.

#include <cstddef>
#include <string_view>
#include <vector>

#include "platform/text_search.h"

namespace a5merge {

struct VectorScan {
    // Adds the events of `block` that it finds with vector instructions (as
    // wide as `path` allows) to `events`, and returns where the plain path
    // must go on (the last bytes, fewer than a vector's width).
    static std::size_t Run(const MultiSearch& search, SearchPath path, std::string_view block,
                           std::vector<MultiSearch::Event>& events);
};

}  // namespace a5merge
