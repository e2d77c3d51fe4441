#include "merge/sheet.h"

#include <cerrno>
#include <new>
#include <system_error>

#include "input/path_helpers.h"
#include "merge/writer.h"
#include "platform/text_files.h"

namespace a5merge {

SheetResult WriteSheet(MergeState& state, TextFiles& files, const SheetJob& job) {
    state.topFile = job.top;
    state.bottomFile = job.bottom;
    state.outFile = job.output;
    SheetResult result;
    ReadChecks checks;
    const auto fail = [&result](RuntimeError error) {
        result.outcome = SheetResult::Outcome::Failed;
        result.error = std::move(error);
        return result;
    };
    try {
        WriteMerged(state, files, job.ifExists, job.checkInputs ? &checks : nullptr, job.special);
    } catch (const RuntimeError& error) {
        return fail(error);
    } catch (const std::bad_alloc&) {  // a memory limit, said with the output's name
        return fail(RuntimeError::FromSystem(job.output, ENOMEM));
    } catch (const std::system_error& error) {  // no thread for the writer, say
        return fail(RuntimeError(job.output, error.code().message(), error.code().value()));
    }
    result.writtenPath = files.LastWrittenPath();
    if (checks.bottom) result.bottom = VerdictOf(*checks.bottom);
    if (checks.top) result.top = VerdictOf(*checks.top);
    result.bottomDetail = checks.bottomDetail;
    result.topDetail = checks.topDetail;
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

bool NamesPdf(const std::string& name) {
    if (name.size() < 4) return false;
    std::string end = name.substr(name.size() - 4);
    for (char& c : end) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return end == ".pdf";
}

std::string SaveFailedText(const std::string& outFile, const RuntimeError& error,
                           const std::string& lineBreak) {
    const std::string cause =
        error.path() == outFile ? error.reason() : error.path() + ": " + error.reason();
    return "Could not save " + outFile + lineBreak + cause;
}

}  // namespace a5merge
