#pragma once

#include <string>
#include <string_view>

namespace a5merge::testing {

// Full path of a sample file in tests/data: top.ps, bottom.ps and the sheet
// made of them, expected_merge.PS.
std::string TestData(std::string_view name);

// The three lines a merged file holds between BOTTOM and TOP.
inline const std::string kInsertedLines =
    "%%  invoegbestand  2e A5  aan top\r\n"
    "%%  hier shift-up naar bovenste helft met -5 mm overlap = 15 PS\r\n"
    "0 405 translate\r\n";

// An input the check accepts: header, creator line, marker, then `body`.
inline std::string AcceptedInput(std::string_view body =
                                     "newpath 10 10 moveto (A) show\r\n"
                                     "showpage\r\n") {
    return "%!PS-Adobe-3.0\r\n%%Creator: Quobl ZQ9XKV\r\n%%TEXT723DUMMY\r\n" + std::string(body);
}

}  // namespace a5merge::testing
