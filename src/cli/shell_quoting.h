#pragma once

#include <string>

namespace a5merge {

// `name` as messages show it: as it is, unless a shell would not take it so
// (a space, a quote or another character a shell reads), or it holds control
// characters or bytes that are not UTF-8. Then it is quoted as GNU tools
// quote names for a shell ('a b', 'a'$'\n''b', 'it'\''s'), so that it can be
// told apart and typed back.
std::string Shown(const std::string& name);

}  // namespace a5merge
