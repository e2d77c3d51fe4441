#pragma once

#include <string_view>

#include "state/merge_state.h"

namespace a5merge {

class TextFiles;

// Fixed lines of a merged file.
inline constexpr std::string_view kA4BoundingBox = "%%BoundingBox: 0 0 595 841";
inline constexpr std::string_view kInsertComment = "%%  invoegbestand  2e A5  aan top";
inline constexpr std::string_view kShiftComment =
    "%%  hier shift-up naar bovenste helft met -5 mm overlap = 15 PS";
inline constexpr std::string_view kShiftUp = "0 405 translate";

// Writes state.outFile: state.bottomFile without its page end (lines holding
// code 4 or "showpage" dropped, "%%BoundingBox" lines widened to the sheet),
// the two comments and the shift of 405 points, then state.topFile without
// its "dup mul exch" and "statusdict" lines. Every line ends with CR LF.
//
// The output replaces its target only once it is complete, after both inputs
// have been read, so an input may be the output. On failure throws
// RuntimeError; every file this call opened is closed and the target keeps
// what it held.
void WriteMerged(MergeState& state, TextFiles& files);

}  // namespace a5merge
