#include "app/command_line.h"

#include <getopt.h>

namespace a5merge {

WindowCommandLine ParseWindowCommandLine(int argc, char** argv) {
    enum { kHelp = 'h', kVersion = 'V' };
    static const option kOptions[] = {
        {"help", no_argument, nullptr, kHelp},
        {"version", no_argument, nullptr, kVersion},
        {nullptr, 0, nullptr, 0},
    };
    WindowCommandLine line;
    opterr = 0;
    optind = 0;  // start afresh (also resets GNU getopt's own state)
    for (int option; (option = getopt_long(argc, argv, "+h", kOptions, nullptr)) != -1;) {
        if (option == kHelp) {
            line.action = WindowCommandLine::Action::PrintHelp;
        } else if (option == kVersion) {
            line.action = WindowCommandLine::Action::PrintVersion;
        } else {
            line.action = WindowCommandLine::Action::UsageError;
            // A short option is named by optopt; a long one only by its argument.
            line.error =
                "unknown option " + (optopt != 0 ? std::string{'-', static_cast<char>(optopt)}
                                                 : std::string(argv[optind - 1]));
            return line;
        }
    }
    if (line.action != WindowCommandLine::Action::OpenWindow && optind < argc) {
        line.action = WindowCommandLine::Action::UsageError;
        line.error = "--help and --version take no other argument";
    }
    return line;
}

std::string WindowHelpText() {
    return "Usage: a5merge\n"
           "       a5merge --help | --version\n"
           "\n"
           "Opens the PS merge window. Drop the PostScript file for the upper half of\n"
           "an A4 sheet on TOP and the one for the lower half on BOTTOM; MERGE + SAVE\n"
           "writes the sheet. a5merge-cli does the same from a shell.\n";
}

std::string WindowVersionText() { return "a5merge " A5MERGE_VERSION "\n"; }

}  // namespace a5merge
