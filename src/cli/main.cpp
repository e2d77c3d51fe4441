// a5merge-cli: the window's input check and merge, from a shell.

#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_run.h"
#include "platform/program.h"

using namespace a5merge;

int main(int argc, char** argv) {
    PrepareProgram();
    // As UTF-8, on Windows from the wide command line.
    std::vector<std::string> arguments = ProgramArguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    std::string error;
    const std::optional<Options> options =
        ParseCliOptions(static_cast<int>(arguments.size()), pointers.data(), error);
    if (!options) {
        WriteWhole(stderr,
                   std::string(kProgram) + ": " + error + "\nTry '" + kProgram + " --help'.\n");
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
    return RunCli(*options);
}
