#pragma once

#include <string>
#include <string_view>

namespace psmerge::testing {

// An input the check accepts: header, creator line, marker, then `body`.
inline std::string AcceptedInput(std::string_view body = "newpath 10 10 moveto (A) show\r\n"
                                                         "showpage\r\n") {
    return "%!PS-Adobe-3.0\r\n%%Creator: Quobl ZQ9XKV\r\n%%TEXT723DUMMY\r\n" + std::string(body);
}

}  // namespace psmerge::testing
