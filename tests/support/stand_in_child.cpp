// A stand-in for Ghostscript on Windows, for what the real one cannot be made
// to do: stand_in_child COMMAND [ARGUMENT...]
//   write NAME BYTES    writes BYTES to the file NAME, then waits 5 s
//   files COUNT BYTES   writes COUNT files of BYTES each, then waits 5 s
//   print BYTES         writes BYTES to standard output, then waits 5 s
//   sleep MS            waits MS milliseconds
//   spin                uses the processor for 10 s
//   spawn               starts a copy of itself that waits 60 s, then waits 60 s
//   quit                ends at once, its standard input unread
//   squat LOG           shows a window of PS merge's class and caption, as
//                       another program on the desktop could, and writes a
//                       line to LOG for each hand-over it is sent; ends when
//                       closed, or after 60 s
//   window CLASS        ends 0 once a window of CLASS shows, 1 after 30 s
//                       without one
//   hold NAME MARK      opens NAME sharing nothing (as a program at work
//                       holds its file), then makes the file MARK, and keeps
//                       NAME open until its standard input ends

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void WriteBytes(HANDLE file, unsigned long long bytes) {
    const std::vector<char> block(65536, 'x');
    while (bytes > 0) {
        const DWORD now = static_cast<DWORD>(std::min<unsigned long long>(bytes, block.size()));
        DWORD written = 0;
        if (!::WriteFile(file, block.data(), now, &written, nullptr)) return;
        bytes -= written;
    }
}

void WriteFileNamed(const wchar_t* name, unsigned long long bytes) {
    const HANDLE file = ::CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) std::exit(2);
    WriteBytes(file, bytes);
    ::CloseHandle(file);
}

std::wstring squatLog;

LRESULT CALLBACK Squatter(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_COPYDATA) {
        const HANDLE log = ::CreateFileW(squatLog.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                         nullptr, OPEN_ALWAYS, 0, nullptr);
        DWORD written = 0;
        ::WriteFile(log, "handed over\n", 12, &written, nullptr);
        ::CloseHandle(log);
        return TRUE;
    }
    if (message == WM_DESTROY) ::PostQuitMessage(0);
    return ::DefWindowProcW(window, message, w, l);
}

void Squat(const wchar_t* log) {
    squatLog = log;
    WNDCLASSW kind{};
    kind.lpfnWndProc = Squatter;
    kind.hInstance = ::GetModuleHandleW(nullptr);
    kind.lpszClassName = L"a5merge.Form1";
    ::RegisterClassW(&kind);
    ::CreateWindowExW(0, kind.lpszClassName, L"PS merge", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                      200, 200, nullptr, nullptr, kind.hInstance, nullptr);
    ::SetTimer(nullptr, 0, 60000, nullptr);
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER) break;
        ::DispatchMessageW(&message);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const std::wstring command = argv[1];
    const auto number = [&](int i) { return i < argc ? std::wcstoull(argv[i], nullptr, 10) : 0; };
    if (command == L"write") {
        WriteFileNamed(argc > 2 ? argv[2] : L"out", number(3));
        ::Sleep(5000);
    } else if (command == L"files") {
        for (unsigned long long i = 0; i < number(2); ++i) {
            WriteFileNamed((L"f" + std::to_wstring(i)).c_str(), number(3));
        }
        ::Sleep(5000);
    } else if (command == L"print") {
        WriteBytes(::GetStdHandle(STD_OUTPUT_HANDLE), number(2));
        ::Sleep(5000);
    } else if (command == L"sleep") {
        ::Sleep(static_cast<DWORD>(number(2)));
    } else if (command == L"spin") {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        volatile unsigned long long n = 0;
        while (std::chrono::steady_clock::now() < end) n = n + 1;
    } else if (command == L"spawn") {
        wchar_t self[MAX_PATH];
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring line = L"\"" + std::wstring(self) + L"\" sleep 60000";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        const bool started = ::CreateProcessW(self, line.data(), nullptr, nullptr, FALSE,
                                              DETACHED_PROCESS, nullptr, nullptr, &startup,
                                              &process);
        const std::string said = started ? "started\n" : "refused\n";
        DWORD written = 0;
        ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), said.data(), static_cast<DWORD>(said.size()),
                    &written, nullptr);
        ::Sleep(60000);
    } else if (command == L"window" && argc > 2) {
        for (int i = 0; i < 300; ++i, ::Sleep(100)) {
            const HWND found = ::FindWindowW(argv[2], nullptr);
            if (found != nullptr && ::IsWindowVisible(found)) return 0;
        }
        return 1;
    } else if (command == L"hold" && argc > 3) {
        const HANDLE held = ::CreateFileW(argv[2], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (held == INVALID_HANDLE_VALUE) return 2;
        WriteFileNamed(argv[3], 0);
        char rest[256];
        DWORD got = 0;
        while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), rest, sizeof rest, &got, nullptr) &&
               got > 0) {
        }
        ::CloseHandle(held);
    } else if (command == L"squat") {
        Squat(argc > 2 ? argv[2] : L"squat.log");
    } else if (command != L"quit") {
        return 2;
    }
    return 0;
}
