#include "merge/sheet.h"

#include "input/path_helpers.h"
#include "merge/writer.h"

namespace a5merge {

SheetResult WriteSheet(MergeState& state, TextFiles& files, const SheetJob& job) {
    state.topFile = job.top;
    state.bottomFile = job.bottom;
    state.outFile = job.output;
    SheetResult result;
    ReadChecks checks;
    try {
        WriteMerged(state, files, job.ifExists, job.checkInputs ? &checks : nullptr);
    } catch (const RuntimeError& error) {
        result.outcome = SheetResult::Outcome::Failed;
        result.error = error;
        return result;
    }
    if (checks.bottom) result.bottom = VerdictOf(*checks.bottom);
    if (checks.top) result.top = VerdictOf(*checks.top);
    for (const auto& verdict : {result.bottom, result.top}) {
        if (verdict && *verdict != DropVerdict::Accepted) {
            result.outcome = SheetResult::Outcome::InputRefused;
        }
    }
    return result;
}

std::string CombiNameFor(const std::string& topFile, const char* ending) {
    return PathOnly(topFile) + PlatformSeparator() + BareName(topFile) + ending;
}

std::string SaveFailedText(const std::string& outFile, const RuntimeError& error,
                           const std::string& lineBreak) {
    const std::string cause =
        error.path() == outFile ? error.reason() : error.path() + ": " + error.reason();
    return "Could not save " + outFile + lineBreak + cause;
}

}  // namespace a5merge
