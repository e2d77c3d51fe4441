#pragma once

#include <string>
#include <vector>

namespace a5merge {

// What the window's command line asks for. It is read before Qt starts, so
// that --help and --version work without a display.
struct WindowCommandLine {
    enum class Action { OpenWindow, PrintHelp, PrintVersion, UsageError };
    Action action = Action::OpenWindow;
    std::vector<std::string> files;  // TOP, then BOTTOM, as given
    std::string error;               // for UsageError
};

// Reads the window's own options and files. Toolkit options are the
// toolkit's: call it with what is left without them.
WindowCommandLine ParseWindowCommandLine(int argc, char** argv);

// `files` made absolute, each as the system can; one it cannot is kept as
// given (the zone then says it cannot find it).
std::vector<std::string> AbsoluteNames(const std::vector<std::string>& files);

// The texts printed for --help and --version; the help names Qt's options
// where the window takes them (on Linux), and no others.
enum class QtOptions { Taken, None };
std::string WindowHelpText(QtOptions qt);
std::string WindowVersionText();

}  // namespace a5merge
