// a5merge-cli: the window's input check and merge, from a shell.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "desktop.h"
#include "drop_zones.h"
#include "form_context.h"
#include "merge_command.h"
#include "path_helpers.h"
#include "runtime_error.h"
#include "text_files.h"
#include "writer.h"

namespace {

using namespace a5merge;

constexpr const char* kProgram = "a5merge-cli";
constexpr const char* kStandardOutput = "-";

enum ExitStatus { kDone = 0, kRefused = 1, kUsage = 2, kExists = 3, kWriteFailed = 4 };

constexpr const char* kHelp =
    "Usage: a5merge-cli [--output FILE|-] [--force] TOP.ps BOTTOM.ps\n"
    "       a5merge-cli --check FILE.ps...\n"
    "       a5merge-cli --help | --version\n"
    "\n"
    "Puts two half-page PostScript drawings on one A4 sheet: BOTTOM without its\n"
    "page end, the origin shifted 405 points up, then TOP. Both files are checked\n"
    "as the a5merge window checks a dropped file.\n"
    "\n"
    "  -o, --output FILE  write the sheet to FILE (\"-\": standard output) instead of\n"
    "                     TOP's folder/TOP's name_Combi.PS\n"
    "  -f, --force        replace FILE when it exists\n"
    "      --check        check each FILE and print \"FILE: OK\" or why it is refused\n"
    "  -h, --help         print this help\n"
    "      --version      print the version\n"
    "\n"
    "The path written is printed on success (nothing for standard output). Each\n"
    "refused input is reported on standard error as \"a5merge-cli: PATH: REASON\".\n"
    "\n"
    "Exit status: 0 done; 1 an input refused; 2 usage error; 3 the output exists\n"
    "and --force was not given; 4 the write failed (nothing replaced).\n";

struct Options {
    bool help = false;
    bool version = false;
    bool check = false;
    bool force = false;
    std::optional<std::string> output;
    std::vector<std::string> files;
};

// Options, or the usage error that stopped reading them.
std::optional<Options> Parse(int argc, char** argv, std::string& error) {
    Options options;
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (onlyFiles || arg.empty() || arg[0] != '-') {
            options.files.push_back(arg);
        } else if (arg == "--") {
            onlyFiles = true;
        } else if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--check") {
            options.check = true;
        } else if (arg == "-f" || arg == "--force") {
            options.force = true;
        } else if (arg == "-o" || arg == "--output") {
            if (i + 1 >= argc) {
                error = "option " + arg + " needs a FILE";
                return std::nullopt;
            }
            options.output = argv[++i];
        } else if (arg.rfind("--output=", 0) == 0) {
            options.output = arg.substr(std::strlen("--output="));
        } else {
            error = "unknown option " + arg;
            return std::nullopt;
        }
    }
    if (options.help || options.version) return options;
    if (options.check) {
        if (options.output || options.force) error = "--check takes no --output or --force";
        if (options.files.empty()) error = "--check needs at least one FILE";
    } else if (options.files.size() != 2) {
        error = "give TOP.ps and BOTTOM.ps";
    }
    if (options.output && options.output->empty()) error = "--output needs a FILE";
    if (!error.empty()) return std::nullopt;
    return options;
}

std::string Absolute(const std::string& path) {
    return std::filesystem::absolute(path).lexically_normal().string();
}

// Nothing here asks anything: the inputs are judged before a name is made,
// so only an unexpected stop can reach this desktop.
class ShellDesktop : public Desktop {
public:
    int MsgBox(const std::string& text, int, const std::optional<std::string>&) override {
        std::fprintf(stderr, "%s: %s\n", kProgram, text.substr(0, text.find('\r')).c_str());
        return kIdOk;
    }
    std::optional<std::string> SaveAs(const SaveDialog&) override { return std::nullopt; }

protected:
    void EndProgram(int) override { std::exit(kRefused); }
};

class NoCaptions : public Captions {
public:
    void SetCaption(Label, const std::string&) override {}
};

void Refuse(const std::string& path, const std::string& reason) {
    std::fprintf(stderr, "%s: %s: %s\n", kProgram, path.c_str(), reason.c_str());
}

int Check(const Options& options, FormContext& form) {
    int status = kDone;
    for (const std::string& file : options.files) {
        const std::string path = Absolute(file);
        const DropVerdict verdict = JudgeDrop({path}, form.state, form.files);
        const std::string reason = verdict == DropVerdict::Accepted ? "OK" : RefusalReason(verdict);
        std::printf("%s: %s\n", path.c_str(), reason.c_str());
        if (verdict != DropVerdict::Accepted) status = kRefused;
    }
    return status;
}

int Merge(const Options& options, FormContext& form) {
    MergeState& state = form.state;
    const std::string top = Absolute(options.files[0]);
    const std::string bottom = Absolute(options.files[1]);

    bool refused = false;
    for (const auto& [zone, path] : {std::pair{Zone::Top, top}, std::pair{Zone::Bottom, bottom}}) {
        const DropVerdict verdict = JudgeDrop({path}, state, form.files);
        if (verdict != DropVerdict::Accepted) {
            const std::string text = RefusalText(zone, verdict);
            Refuse(path, text.empty() ? RefusalReason(verdict) : text);
            refused = true;
        }
    }
    if (refused) return kRefused;
    state.topFile = top;
    state.bottomFile = bottom;
    state.topOK = state.bottomOK = 1;

    if (!options.output) {
        state.outFile = ProposedName(top, form);
    } else if (*options.output == kStandardOutput) {
        state.outFile = kStandardOutput;
        form.files.SetStandardOutputName(kStandardOutput);
    } else {
        state.outFile = Absolute(*options.output);
    }

    std::error_code ignored;
    if (state.outFile != kStandardOutput && !options.force &&
        std::filesystem::symlink_status(state.outFile, ignored).type() !=
            std::filesystem::file_type::not_found) {
        Refuse(state.outFile, "exists; --force replaces it");
        return kExists;
    }

    try {
        WriteMerged(state, form.files);
    } catch (const RuntimeError& error) {
        std::fprintf(stderr, "%s: %s\n", kProgram,
                     SaveFailedText(state.outFile, error, ": ").c_str());
        return kWriteFailed;
    }
    if (state.outFile != kStandardOutput) std::printf("%s\n", state.outFile.c_str());
    return kDone;
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const std::optional<Options> options = Parse(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgram, error.c_str(), kProgram);
        return kUsage;
    }
    if (options->help) {
        std::fputs(kHelp, stdout);
        return kDone;
    }
    if (options->version) {
        std::printf("%s %s\n", kProgram, A5MERGE_VERSION);
        return kDone;
    }

    MergeState state;
    state.lineBreak = "\r\n";
    TextFiles files;
    ShellDesktop desktop;
    NoCaptions captions;
    FormContext form{state, files, desktop, captions};
    return options->check ? Check(*options, form) : Merge(*options, form);
}
