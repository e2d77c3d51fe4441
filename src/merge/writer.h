#pragma once

#include <optional>
#include <string_view>

#include "input/input_check.h"
#include "platform/file_system.h"
#include "state/merge_state.h"

namespace a5merge {

class TextFiles;

// Fixed lines of a merged file.
inline constexpr std::string_view kA4BoundingBox = "%%BoundingBox: 0 0 595 841";
inline constexpr std::string_view kInsertComment = "%%  invoegbestand  2e A5  aan top";
inline constexpr std::string_view kShiftComment =
    "%%  hier shift-up naar bovenste helft met -5 mm overlap = 15 PS";
inline constexpr std::string_view kShiftUp = "0 405 translate";

// What the input check found in each input, when the writer checks them as
// it reads them.
struct ReadChecks {
    std::optional<CheckFlags> bottom;  // read first
    std::optional<CheckFlags> top;     // not read when BOTTOM was refused
    CheckDetail bottomDetail;          // why each was refused
    CheckDetail topDetail;
};

// Writes state.outFile: state.bottomFile without its page end (lines holding
// code 4 or "showpage" dropped, "%%BoundingBox" lines widened to the sheet),
// the two comments and the shift of 405 points, then state.topFile without
// its "dup mul exch" and "statusdict" lines. Every line ends with CR LF.
//
// The output replaces its target only once it is complete, after both inputs
// have been read, so an input may be the output; with IfExists::Fail it is
// put in place only while its name is free. On failure throws RuntimeError;
// every file this call opened is closed and the target keeps what it held.
//
// With `checks`, each input is also checked as it is read, by the same rules
// as Test, so that what is written is exactly what was checked: an input the
// check refuses stops the write, its output is dropped and the rest is not
// read. The check flags of `state` then describe the last input read.
// A FIFO or device as the output is written into, or, with
// SpecialFiles::Refuse, refused.
void WriteMerged(MergeState& state, TextFiles& files, IfExists ifExists = IfExists::Replace,
                 ReadChecks* checks = nullptr, SpecialFiles special = SpecialFiles::WriteInto);

}  // namespace a5merge
