#pragma once

#include <string_view>

namespace a5merge {

// Whether `name` matches `pattern`: * any run of characters, ? any one
// character, everything else literal; letters of any case alike when
// `ignoreCase` (Windows' names).
bool WildcardMatch(std::string_view pattern, std::string_view name, bool ignoreCase = false);

}  // namespace a5merge
