// a5merge-cli: the window's input check and merge, from a shell.

#include <getopt.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "input/drop_zones.h"
#include "merge/sheet.h"
#include "platform/text_files.h"

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

// How the argument that getopt_long just refused is named in a message.
std::string RefusedOption(char** argv) {
    const std::string arg = argv[optind - 1];
    if (arg.rfind("--", 0) == 0) return arg.substr(0, arg.find('='));
    return std::string{'-', static_cast<char>(optopt)};
}

// Options, or the usage error that stopped reading them.
std::optional<Options> Parse(int argc, char** argv, std::string& error) {
    enum { kCheck = 256, kVersion };
    static const option kLongOptions[] = {
        {"output", required_argument, nullptr, 'o'}, {"force", no_argument, nullptr, 'f'},
        {"check", no_argument, nullptr, kCheck},     {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, kVersion}, {nullptr, 0, nullptr, 0},
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

void Refuse(const std::string& path, const std::string& reason) {
    std::fprintf(stderr, "%s: %s: %s\n", kProgram, path.c_str(), reason.c_str());
}

int Check(const Options& options, MergeState& state, TextFiles& files) {
    int status = kDone;
    for (const std::string& file : options.files) {
        const std::string path = Absolute(file);
        const DropVerdict verdict = JudgeDrop({path}, state, files);
        const std::string reason = verdict == DropVerdict::Accepted ? "OK" : RefusalReason(verdict);
        std::printf("%s: %s\n", path.c_str(), reason.c_str());
        if (verdict != DropVerdict::Accepted) status = kRefused;
    }
    return status;
}

int Merge(const Options& options, MergeState& state, TextFiles& files) {
    const std::string top = Absolute(options.files[0]);
    const std::string bottom = Absolute(options.files[1]);

    bool refused = false;
    for (const auto& [zone, path] : {std::pair{Zone::Top, top}, std::pair{Zone::Bottom, bottom}}) {
        const DropVerdict verdict = JudgeDrop({path}, state, files);
        if (verdict != DropVerdict::Accepted) {
            const std::string text = RefusalText(zone, verdict);
            Refuse(path, text.empty() ? RefusalReason(verdict) : text);
            refused = true;
        }
    }
    if (refused) return kRefused;

    std::string output;
    if (!options.output) {
        output = CombiNameFor(top);
    } else if (*options.output == kStandardOutput) {
        output = kStandardOutput;
        files.SetStandardOutputName(kStandardOutput);
    } else {
        output = Absolute(*options.output);
    }

    std::error_code ignored;
    if (output != kStandardOutput && !options.force &&
        std::filesystem::symlink_status(output, ignored).type() !=
            std::filesystem::file_type::not_found) {
        Refuse(output, "exists; --force replaces it");
        return kExists;
    }

    if (const auto failure = WriteSheet(state, files, {top, bottom, output})) {
        std::fprintf(stderr, "%s: %s\n", kProgram, SaveFailedText(output, *failure, ": ").c_str());
        return kWriteFailed;
    }
    if (output != kStandardOutput) std::printf("%s\n", output.c_str());
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
    return options->check ? Check(*options, state, files) : Merge(*options, state, files);
}
