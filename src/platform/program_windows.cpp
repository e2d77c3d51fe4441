#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>

#include "platform/program.h"
#include "platform/windows_support.h"

namespace a5merge {

namespace {

UINT consoleCodePageAtStart = 0;

void RestoreConsoleCodePage() { ::SetConsoleOutputCP(consoleCodePageAtStart); }

}  // namespace

void PrepareProgram() {
    // The same bytes as on Linux: no CR added before LF.
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
    // Messages are UTF-8: a console shows them so while the program runs.
    consoleCodePageAtStart = ::GetConsoleOutputCP();
    if (consoleCodePageAtStart != 0 && consoleCodePageAtStart != CP_UTF8 &&
        ::SetConsoleOutputCP(CP_UTF8)) {
        std::atexit(RestoreConsoleCodePage);
    }
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(windows::Narrow(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

}  // namespace a5merge
