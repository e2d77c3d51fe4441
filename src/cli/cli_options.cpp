#include "cli/cli_options.h"

#include <getopt.h>

#include "cli/shell_quoting.h"

namespace a5merge {

namespace {

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

}  // namespace

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

namespace {

// How the argument that getopt_long just refused is named in a message:
// quoted, as names are, when it holds control characters or more.
std::string RefusedOption(char** argv) {
    const std::string arg = argv[optind - 1];
    if (arg.rfind("--", 0) == 0) return Shown(arg.substr(0, arg.find('=')));
    return Shown(std::string{'-', static_cast<char>(optopt)});
}

}  // namespace

std::optional<Options> ParseCliOptions(int argc, char** argv, std::string& error) {
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

}  // namespace a5merge
