#pragma once

#include <optional>
#include <string>

#include "input/drop_zones.h"
#include "platform/file_system.h"
#include "platform/runtime_error.h"
#include "state/merge_state.h"

namespace a5merge {

class TextFiles;

// Two accepted files and where their sheet goes.
struct SheetJob {
    std::string top;     // drawn on the upper half
    std::string bottom;  // drawn on the lower half
    std::string output;
    IfExists ifExists = IfExists::Replace;  // Fail: write only while the name is free
    bool checkInputs = false;               // check each input as it is read (see WriteMerged)
    SpecialFiles special = SpecialFiles::WriteInto;  // a FIFO or device as output
};

// How writing a sheet ended.
struct SheetResult {
    enum class Outcome {
        Written,
        InputRefused,  // by the check, while reading: nothing written
        Failed,        // `error` says what; the target keeps what it held
    };
    Outcome outcome = Outcome::Written;
    // The check's verdict on each input it read (with checkInputs); TOP is
    // not read when BOTTOM is refused.
    std::optional<DropVerdict> top;
    std::optional<DropVerdict> bottom;
    CheckDetail topDetail;  // why the check refused each
    CheckDetail bottomDetail;
    std::optional<RuntimeError> error;
    std::string writtenPath;  // where the sheet is, once Written
};

// Writes the sheet of `job`: the step that the window's MERGE + SAVE and
// a5merge-cli share once both files are accepted and the output is named.
// Records the three paths in `state` (topFile, bottomFile, outFile), as the
// writer reads them there.
SheetResult WriteSheet(MergeState& state, TextFiles& files, const SheetJob& job);

// The name a sheet gets by default: TOP's folder, TOP's name without its
// extension, then `ending` ("_Combi" and ".PS"). Applies no guard to short paths.
inline constexpr const char* kCombiEnding = "_Combi.PS";
std::string CombiNameFor(const std::string& topFile, const char* ending = kCombiEnding);

// Whether `name` ends in ".pdf", in any case: a name that asks for the
// sheet as PDF.
bool NamesPdf(const std::string& name);

// What the user is told when the sheet could not be written: "Could not save
// PATH", `lineBreak`, then the reason (with the path that failed, when that
// is not the output).
std::string SaveFailedText(const std::string& outFile, const RuntimeError& error,
                           const std::string& lineBreak);

}  // namespace a5merge
