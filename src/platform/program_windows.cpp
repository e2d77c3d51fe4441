#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
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

void WriteWhole(std::FILE* stream, const std::string& text) {
    std::fflush(stream);
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode)) {
        const std::wstring wide = windows::Wide(text);
        DWORD written = 0;
        // WriteConsoleW takes at most 64 KB a call on older systems.
        for (std::size_t at = 0; at < wide.size(); at += written) {
            DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - at, 16384));
            if (chunk > 1 && at + chunk < wide.size() && IS_HIGH_SURROGATE(wide[at + chunk - 1])) {
                --chunk;  // a character is never cut in two
            }
            if (!::WriteConsoleW(handle, wide.data() + at, chunk, &written, nullptr) || written == 0) {
                break;
            }
        }
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
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
