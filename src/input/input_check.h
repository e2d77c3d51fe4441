#pragma once

#include <string>

#include "state/merge_state.h"

namespace a5merge {

class TextFiles;

// Tokens an input file must hold: line 1, line 2 (both), a line from 3 on.
inline constexpr const char* kHeaderToken = "%!PS-Adobe";
inline constexpr const char* kCreatorToken = "%%Creator: Quobl";
inline constexpr const char* kIdentifierToken = "ZQ9XKV";
inline constexpr const char* kMarkerToken = "%%TEXT723DUMMY";
// Held by every merged file, from line 3 on.
inline constexpr const char* kMergedToken = " 2e A5 ";

// Reads `PSbestand` and records in `state`: foutefile (1 when line 1 lacks the
// header token or line 2 lacks a creator token), TEXT723DUMMY (1 when a line
// from line 3 on holds the marker) and dubbel (1 when such a line holds the
// already-merged marker). A file that cannot be found (no ordinary file) or
// read to its end, is empty, or has no second line, records foutefile 1 and
// both others 0. Closes every open file at the end.
void Test(MergeState& state, TextFiles& files, const std::string& PSbestand);

}  // namespace a5merge
