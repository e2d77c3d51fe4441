// A build without a vector path for MultiSearch: the plain path does it all.

#include "platform/text_search_vector.h"

namespace a5merge {

bool VectorSearchBuilt() { return false; }

std::size_t VectorScan::Run(const MultiSearch&, SearchPath, std::string_view,
                            std::vector<MultiSearch::Event>&) {
    return 0;
}

}  // namespace a5merge
