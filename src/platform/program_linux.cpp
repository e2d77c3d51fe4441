#include <signal.h>

#include "platform/program.h"

namespace a5merge {

void PrepareProgram() { ::signal(SIGXFSZ, SIG_IGN); }

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);  // bytes, as they are
}

}  // namespace a5merge
