#include "handlers/command_line.h"

#include <getopt.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/runtime_error.h"

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
    line.files.assign(argv + optind, argv + argc);
    const auto refuse = [&line](std::string error) {
        line.action = WindowCommandLine::Action::UsageError;
        line.error = std::move(error);
        line.files.clear();
    };
    if (line.action != WindowCommandLine::Action::OpenWindow) {
        if (!line.files.empty()) refuse("--help and --version take no other argument");
    } else if (line.files.size() > 2) {
        refuse("give at most TOP.ps and BOTTOM.ps");
    } else {
        for (std::size_t i = 0; i < line.files.size(); ++i) {
            if (line.files[i].empty()) {
                refuse(i == 0 ? "TOP.ps is an empty name" : "BOTTOM.ps is an empty name");
                break;
            }
        }
    }
    return line;
}

std::vector<std::string> AbsoluteNames(const std::vector<std::string>& files) {
    std::vector<std::string> named;
    for (const std::string& file : files) {
        try {
            named.push_back(AbsolutePath(file));
        } catch (const RuntimeError&) {
            named.push_back(file);
        }
    }
    return named;
}

std::string WindowHelpText(QtOptions qt) {
    const bool withQt = qt == QtOptions::Taken;
    return std::string(withQt ? "Usage: a5merge [Qt's options] [TOP.ps [BOTTOM.ps]]\n"
                              : "Usage: a5merge [TOP.ps [BOTTOM.ps]]\n") +
           "       a5merge --help | --version\n"
           "\n"
           "Opens the PS merge window. Give it the PostScript file for the upper half of\n"
           "an A4 sheet on TOP and the one for the lower half on BOTTOM: drop them, click\n"
           "a zone (or Space or Enter on it) to choose one, paste one with Ctrl+V, or\n"
           "name them here. MERGE + SAVE writes the sheet. a5merge-cli does the same\n"
           "from a shell." +
           (withQt ? " Qt's own options (-platform xcb, -style, -reverse...) are\n"
                     "taken as Qt takes them.\n"
                   : "\n") +
           "\n"
           "Right click, the Menu key or Shift+F10 on the window opens its menu:\n"
           "  Preview...            Ctrl+Shift+P  the sheet as it prints\n"
           "  Print...              Ctrl+P        the sheet, as PDF, to a printer\n"
           "  Save as PDF...        Ctrl+Shift+S  the sheet as PDF\n"
           "  Swap TOP and BOTTOM   Ctrl+Shift+X  each zone takes the other's file\n";
}

std::string WindowVersionText() { return "a5merge " A5MERGE_VERSION "\n"; }

}  // namespace a5merge
