#include "cli/cli_run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "cli/shell_quoting.h"
#include "ghostscript/ghostscript.h"
#include "ghostscript/sheet_output.h"
#include "input/drop_zones.h"
#include "merge/sheet.h"
#include "platform/file_system.h"
#include "platform/program.h"
#include "platform/runtime_error.h"
#include "platform/text_files.h"


namespace a5merge {

namespace {

void Refuse(const std::string& path, const std::string& reason) {
    WriteWhole(stderr, std::string(kProgram) + ": " + Shown(path) + ": " + reason + "\n");
}

// `arg` made absolute, as text; nothing when the current folder cannot be
// found (the refusal is printed).
std::optional<std::string> Resolved(const std::string& arg) {
    try {
        return AbsolutePath(arg);
    } catch (const RuntimeError& error) {
        Refuse(arg, "cannot be resolved against the current folder: " + error.reason());
        return std::nullopt;
    }
}

int Check(const Options& options, MergeState& state, TextFiles& files) {
    int status = kDone;
    for (const std::string& file : options.files) {
        const std::optional<std::string> path = Resolved(file);
        if (!path) {
            status = kRefused;
            continue;
        }
        CheckDetail detail;
        const DropVerdict verdict = JudgeDrop({*path}, state, files, &detail);
        const std::string reason =
            verdict == DropVerdict::Accepted ? "OK" : WithDetail(RefusalReason(verdict), detail);
        WriteWhole(stdout, Shown(*path) + ": " + reason + "\n");
        if (verdict != DropVerdict::Accepted) status = kRefused;
    }
    return status;
}

void ReportRefusal(Zone zone, const std::string& path, DropVerdict verdict,
                   const CheckDetail& detail) {
    const std::string text = RefusalText(zone, verdict);
    Refuse(path, WithDetail(text.empty() ? RefusalReason(verdict) : text, detail));
}

// An input, what the check said of it, and why.
struct Judged {
    std::optional<DropVerdict> verdict;
    CheckDetail detail;
};

// Reports every refused input, TOP first. An input without a verdict yet is
// judged here, by reading it.
void ReportRefusals(const std::string& top, const std::string& bottom, Judged topJudged,
                    Judged bottomJudged, MergeState& state, TextFiles& files) {
    for (auto [path, judged] : {std::pair{&top, &topJudged}, std::pair{&bottom, &bottomJudged}}) {
        if (!judged->verdict) judged->verdict = JudgeDrop({*path}, state, files, &judged->detail);
    }
    if (*topJudged.verdict != DropVerdict::Accepted) {
        ReportRefusal(Zone::Top, top, *topJudged.verdict, topJudged.detail);
    }
    if (*bottomJudged.verdict != DropVerdict::Accepted) {
        ReportRefusal(Zone::Bottom, bottom, *bottomJudged.verdict, bottomJudged.detail);
    }
}

int Merge(const Options& options, MergeState& state, TextFiles& files) {
    const std::optional<std::string> top = Resolved(options.files[0]);
    const std::optional<std::string> bottom = Resolved(options.files[1]);
    if (!top || !bottom) return kRefused;

    // What can be told without reading; the content is checked as it is merged.
    Judged topEarly, bottomEarly;
    topEarly.verdict = JudgeBeforeReading({*top}, state, &topEarly.detail);
    bottomEarly.verdict = JudgeBeforeReading({*bottom}, state, &bottomEarly.detail);
    if (topEarly.verdict || bottomEarly.verdict) {
        ReportRefusals(*top, *bottom, topEarly, bottomEarly, state, files);
        return kRefused;
    }

    const SheetFormat format = options.pdf || (options.output && NamesPdf(*options.output))
                                   ? SheetFormat::Pdf
                                   : SheetFormat::PostScript;
    std::optional<Ghostscript> ghostscript;
    if (format == SheetFormat::Pdf || options.verify) {
        ghostscript.emplace();
        if (!ghostscript->Found()) {
            WriteWhole(stderr, std::string(kProgram) + ": " + kGhostscriptMissing + "\n");
            return kWriteFailed;
        }
    }

    SheetJob job{*top, *bottom, {}, options.force ? IfExists::Replace : IfExists::Fail, true};
    if (!options.output) {
        job.output =
            CombiNameFor(*top, format == SheetFormat::Pdf ? kPdfCombiEnding : kCombiEnding);
    } else if (*options.output != kStandardOutput) {
        const std::optional<std::string> output = Resolved(*options.output);
        if (!output) return kRefused;
        job.output = *output;
    }
    // "-", or a name of the open standard output itself (/dev/stdout, or the
    // file it appends to), is standard output.
    if (options.output && (*options.output == kStandardOutput || IsStandardOutput(job.output))) {
        job.output = kStandardOutput;
        files.SetStandardOutputName(kStandardOutput);
        for (const std::string& input : {*top, *bottom}) {
            if (IsStandardOutput(input)) {  // it would read what it writes
                Refuse(input, "input file is standard output");
                return kWriteFailed;
            }
        }
    }

    const SheetWritten written =
        ghostscript ? WriteSheetAs(state, files, job, format, options.verify, *ghostscript)
                    : SheetWritten{WriteSheet(state, files, job), {}};
    // Known from the run itself, said before what became of it.
    if (std::string why; ghostscript && !ghostscript->Sandboxed(&why) && !why.empty()) {
        WriteWhole(stderr, std::string(kProgram) +
                               ": warning: bubblewrap cannot make its sandbox here (" + why +
                               "); Ghostscript runs with -dSAFER and private folders only\n");
    }
    const SheetResult& result = written.sheet;
    switch (result.outcome) {
        case SheetResult::Outcome::Written:
            if (job.output != kStandardOutput) {
                const std::string& where =
                    result.writtenPath.empty() ? job.output : result.writtenPath;
                WriteWhole(stdout, Shown(where) + "\n");
            }
            for (const std::string& problem : written.problems) Refuse(job.output, problem);
            return written.problems.empty() ? kDone : kWillNotPrint;
        case SheetResult::Outcome::InputRefused:
            ReportRefusals(*top, *bottom, {result.top, result.topDetail},
                           {result.bottom, result.bottomDetail}, state, files);
            return kRefused;
        case SheetResult::Outcome::Failed:
            break;
    }
    const RuntimeError& error = *result.error;
    if (error.systemError() == EEXIST && error.path() == job.output) {
        Refuse(job.output, "exists; --force replaces it");
        return kExists;
    }
    const RuntimeError shown(Shown(error.path()), error.reason());
    WriteWhole(stderr, std::string(kProgram) + ": " +
                           SaveFailedText(Shown(job.output), shown, ": ") + "\n");
    return kWriteFailed;
}

}  // namespace

int RunCli(const Options& options) {
    try {
        MergeState state;
        state.lineBreak = "\r\n";
        TextFiles files;
        return options.check ? Check(options, state, files) : Merge(options, state, files);
    } catch (const std::exception& error) {  // not expected; said rather than aborted
        WriteWhole(stderr, std::string(kProgram) + ": " + error.what() + "\n");
        return kWriteFailed;
    }
}

}  // namespace a5merge
