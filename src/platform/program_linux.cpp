#include <signal.h>

#include "platform/program.h"

namespace a5merge {

void PrepareProgram() { ::signal(SIGXFSZ, SIG_IGN); }

void WriteWhole(std::FILE* stream, const std::string& text) {
    std::fflush(stream);
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);  // bytes, as they are
}

}  // namespace a5merge
