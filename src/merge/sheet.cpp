#include "merge/sheet.h"

#include "input/path_helpers.h"
#include "merge/writer.h"

namespace a5merge {

std::optional<RuntimeError> WriteSheet(MergeState& state, TextFiles& files, const SheetJob& job) {
    state.topFile = job.top;
    state.bottomFile = job.bottom;
    state.outFile = job.output;
    try {
        WriteMerged(state, files);
    } catch (const RuntimeError& error) {
        return error;
    }
    return std::nullopt;
}

std::string CombiNameFor(const std::string& topFile) {
    return PathOnly(topFile) + PlatformSeparator() + BareName(topFile) + kCombiEnding;
}

std::string SaveFailedText(const std::string& outFile, const RuntimeError& error,
                           const std::string& lineBreak) {
    const std::string cause =
        error.path() == outFile ? error.reason() : error.path() + ": " + error.reason();
    return "Could not save " + outFile + lineBreak + cause;
}

}  // namespace a5merge
