// a5merge-cli: the window's input check and merge, from a shell.

#include <getopt.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "ghostscript/ghostscript.h"
#include "ghostscript/sheet_output.h"
#include "input/drop_zones.h"
#include "merge/sheet.h"
#include "platform/file_system.h"
#include "platform/program.h"
#include "platform/runtime_error.h"
#include "platform/text_files.h"

namespace {

using namespace a5merge;

constexpr const char* kProgram = "a5merge-cli";
constexpr const char* kStandardOutput = "-";

enum ExitStatus {
    kDone = 0,
    kRefused = 1,
    kUsage = 2,
    kExists = 3,
    kWriteFailed = 4,
    kWillNotPrint = 5
};

constexpr const char* kHelp =
    "Usage: a5merge-cli [--pdf] [--verify] [--output FILE|-] [--force] TOP.ps BOTTOM.ps\n"
    "       a5merge-cli --check FILE.ps...\n"
    "       a5merge-cli --help | --version\n"
    "\n"
    "Puts two half-page PostScript drawings on one A4 sheet: BOTTOM without its\n"
    "page end, the origin shifted 405 points up, then TOP. Both files are checked\n"
    "as the a5merge window checks a dropped file.\n"
    "\n"
    "  -o, --output FILE  write the sheet to FILE (\"-\": standard output) instead of\n"
    "                     TOP's folder/TOP's name_Combi.PS (or _Combi.pdf)\n"
    "  -f, --force        replace FILE when it exists\n"
    "      --pdf          write the sheet as PDF, made by Ghostscript (implied by a\n"
    "                     FILE ending in .pdf); every viewer and printer shows it whole\n"
    "      --verify       render the sheet written with Ghostscript and say if it\n"
    "                     will not print as one sheet with both drawings\n"
    "      --check        check each FILE and print \"FILE: OK\" or why it is refused\n"
    "                     (the window's text, then the reason: \"FILE: file check NOT\n"
    "                     OK: its lines end with LF only; ...\")\n"
    "  -h, --help         print this help\n"
    "      --version      print the version\n"
    "\n"
    "The path written is printed on success (nothing for standard output). Each\n"
    "refused input is reported on standard error as \"a5merge-cli: PATH: REASON\".\n";
// After how to print on this system (HelpText).
constexpr const char* kHelpEnd =
    "\n"
    "Exit status: 0 done; 1 an input refused; 2 usage error; 3 the output exists\n"
    "and --force was not given; 4 the write failed (nothing replaced), Ghostscript\n"
    "failed or is missing; 5 --verify found that the sheet written will not print\n"
    "right.\n";

// The help, with how to print on this system.
std::string HelpText() {
#ifdef _WIN32
    const char* printing =
        "To print: a5merge-cli --pdf TOP.ps BOTTOM.ps, then print the PDF it names.\n"
        "Write the sheet with -o FILE: Windows PowerShell 5.1 re-encodes what a program\n"
        "writes to > or |: \"-o -\" is byte-exact only in cmd and PowerShell 7.4 on.\n";
#else
    const char* printing = "To print: a5merge-cli --pdf -o - TOP.ps BOTTOM.ps | lp\n";
#endif
    return std::string(kHelp) + printing + kHelpEnd;
}

struct Options {
    bool help = false;
    bool version = false;
    bool check = false;
    bool force = false;
    bool pdf = false;
    bool verify = false;
    std::optional<std::string> output;
    std::vector<std::string> files;
};

std::string Shown(const std::string& name);

// How the argument that getopt_long just refused is named in a message:
// quoted, as names are, when it holds control characters or more.
std::string RefusedOption(char** argv) {
    const std::string arg = argv[optind - 1];
    if (arg.rfind("--", 0) == 0) return Shown(arg.substr(0, arg.find('=')));
    return Shown(std::string{'-', static_cast<char>(optopt)});
}

// Options, or the usage error that stopped reading them.
std::optional<Options> Parse(int argc, char** argv, std::string& error) {
    enum { kCheck = 256, kVersion, kPdf, kVerify };
    static const option kLongOptions[] = {
        {"output", required_argument, nullptr, 'o'}, {"force", no_argument, nullptr, 'f'},
        {"check", no_argument, nullptr, kCheck},     {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, kVersion}, {"pdf", no_argument, nullptr, kPdf},
        {"verify", no_argument, nullptr, kVerify},   {nullptr, 0, nullptr, 0},
    };
    Options options;
    opterr = 0;  // the messages are ours
    optind = 0;
    for (int option; (option = getopt_long(argc, argv, ":o:fh", kLongOptions, nullptr)) != -1;) {
        switch (option) {
            case 'o':
                options.output = optarg;
                break;
            case 'f':
                options.force = true;
                break;
            case kCheck:
                options.check = true;
                break;
            case 'h':
                options.help = true;
                break;
            case kVersion:
                options.version = true;
                break;
            case kPdf:
                options.pdf = true;
                break;
            case kVerify:
                options.verify = true;
                break;
            case ':':
                error = "option " + RefusedOption(argv) + " needs a FILE";
                return std::nullopt;
            default: {
                const std::string name = RefusedOption(argv);
                const bool known =
                    std::string(argv[optind - 1]).find('=') != std::string::npos && optopt != 0;
                error = known ? "option " + name + " takes no value" : "unknown option " + name;
                return std::nullopt;
            }
        }
    }
    options.files.assign(argv + optind, argv + argc);
    if (options.help || options.version) {
        if (options.files.empty()) return options;
        error = "--help and --version take no other argument";
        return std::nullopt;
    }
    for (std::size_t i = 0; i < options.files.size(); ++i) {
        if (!options.files[i].empty()) continue;
        error = options.check ? "FILE " + std::to_string(i + 1) + " is an empty name"
                : i == 0      ? "TOP.ps is an empty name"
                              : "BOTTOM.ps is an empty name";
        return std::nullopt;
    }
    if (options.check) {
        if (options.output || options.force || options.pdf || options.verify) {
            error = "--check takes no --output, --force, --pdf or --verify";
        }
        if (options.files.empty()) error = "--check needs at least one FILE";
    } else if (options.files.size() != 2) {
        error = "give TOP.ps and BOTTOM.ps";
    }
    if (options.output && options.output->empty()) error = "--output needs a FILE";
    if (!error.empty()) return std::nullopt;
    return options;
}

// The length of the well-formed UTF-8 character at the start of `bytes`, or
// 0 when none starts there (a stray byte, an overlong form, a surrogate, a
// code point past U+10FFFF, a cut sequence).
std::size_t CharacterLength(std::string_view bytes) {
    const auto at = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = at(0);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // shorter forms are overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (bytes.size() < length || at(1) < low || at(1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if ((at(k) & 0xC0) != 0x80) return 0;
    }
    return length;
}

// Whether a shell takes the ASCII character `c` as it is, unquoted (the
// folder separator too, which on Windows is a backslash).
bool PlainForAShell(unsigned char c) {
    return std::isalnum(c) != 0 || std::strchr("_-.,:/+@%=", c) != nullptr ||
           c == static_cast<unsigned char>(PlatformSeparator());
}

// `name` as messages show it: as it is, unless a shell would not take it so
// (a space, a quote or another character a shell reads), or it holds control
// characters or bytes that are not UTF-8. Then it is quoted as GNU tools
// quote names for a shell ('a b', 'a'$'\n''b', 'it'\''s'), so that it can be
// told apart and typed back.
std::string Shown(const std::string& name) {
    std::vector<bool> special(name.size(), false);
    bool any = false;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80 && !PlainForAShell(u)) any = true;
    }
    for (std::size_t i = 0; i < name.size();) {
        const auto c = static_cast<unsigned char>(name[i]);
        std::size_t length = CharacterLength(std::string_view(name).substr(i));
        if (length == 0 || c < 0x20 || c == 0x7F) {
            special[i] = any = true;
            length = 1;
        }
        i += length;
    }
    if (!any) return name;

    std::string shown;
    bool inQuotes = false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (special[i]) {
            if (inQuotes) shown += '\'';
            inQuotes = false;
            char escaped[8];
            std::snprintf(escaped, sizeof escaped,
                          c == '\n'   ? "\\n"
                          : c == '\t' ? "\\t"
                          : c == '\r' ? "\\r"
                                      : "\\%03o",
                          c);
            shown += "$'" + std::string(escaped) + "'";
            continue;
        }
        if (!inQuotes) shown += '\'';
        inQuotes = true;
        shown += c == '\'' ? std::string("'\\''") : std::string(1, name[i]);
    }
    if (inQuotes) shown += '\'';
    return shown;
}

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
    WriteWhole(stderr,
               std::string(kProgram) + ": " + SaveFailedText(Shown(job.output), shown, ": ") + "\n");
    return kWriteFailed;
}

}  // namespace

int main(int argc, char** argv) {
    PrepareProgram();
    // As UTF-8, on Windows from the wide command line.
    std::vector<std::string> arguments = ProgramArguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    std::string error;
    const std::optional<Options> options =
        Parse(static_cast<int>(arguments.size()), pointers.data(), error);
    if (!options) {
        WriteWhole(stderr, std::string(kProgram) + ": " + error + "\nTry '" + kProgram +
                               " --help'.\n");
        return kUsage;
    }
    if (options->help) {
        WriteWhole(stdout, HelpText());
        return kDone;
    }
    if (options->version) {
        WriteWhole(stdout, std::string(kProgram) + " " + A5MERGE_VERSION + "\n");
        return kDone;
    }

    try {
        MergeState state;
        state.lineBreak = "\r\n";
        TextFiles files;
        return options->check ? Check(*options, state, files) : Merge(*options, state, files);
    } catch (const std::exception& error) {  // not expected; said rather than aborted
        WriteWhole(stderr, std::string(kProgram) + ": " + error.what() + "\n");
        return kWriteFailed;
    }
}
