#include "support/ps_samples.h"

namespace a5merge::testing {

std::string TestData(std::string_view name) {
    return std::string(A5MERGE_TEST_DATA) + "/" + std::string(name);
}

}  // namespace a5merge::testing
