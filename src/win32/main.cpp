// The PS merge window on Windows.

#include <windows.h>

#include <objbase.h>

#include <chrono>
#include <thread>

#include "handlers/command_line.h"
#include "platform/exit_cleanup.h"
#include "platform/file_system.h"
#include "platform/program.h"
#include "platform/runtime_error.h"
#include "platform/single_instance.h"
#include "platform/text_files.h"
#include "platform/windows_support.h"
#include "win32/form1_win32.h"
#include "win32/win32_desktop.h"

namespace {

// Gives `files` (none: only come to the front) to the window of the copy
// that runs; false when there is none that takes them.
bool HandToRunningCopy(const std::vector<std::string>& files) {
    const HWND running = ::FindWindowW(a5merge::Win32Form1::kClassName, nullptr);
    if (running == nullptr) return false;
    const std::string block = a5merge::Win32Form1::HandOverBlock(files);
    COPYDATASTRUCT data{};
    data.dwData = a5merge::Win32Form1::kHandOverTag;
    data.cbData = static_cast<DWORD>(block.size());
    data.lpData = const_cast<char*>(block.data());
    ::AllowSetForegroundWindow(ASFW_ANY);
    DWORD_PTR answer = FALSE;
    return ::SendMessageTimeoutW(running, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                                 SMTO_ABORTIFHUNG, 5000, &answer) != 0 &&
           answer == TRUE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
    a5merge::PrepareProgram();
    std::vector<std::string> arguments = a5merge::ProgramArguments(0, nullptr);
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    const a5merge::WindowCommandLine commandLine =
        a5merge::ParseWindowCommandLine(static_cast<int>(pointers.size()), pointers.data());
    using Action = a5merge::WindowCommandLine::Action;
    // A window program has no console: what a console program prints shows in a box.
    if (commandLine.action != Action::OpenWindow) {
        const std::string text = commandLine.action == Action::PrintHelp
                                     ? a5merge::WindowHelpText()
                                 : commandLine.action == Action::PrintVersion
                                     ? a5merge::WindowVersionText()
                                     : "a5merge: " + commandLine.error + "\nTry 'a5merge --help'.";
        ::MessageBoxW(nullptr, a5merge::windows::Wide(text).c_str(), L"PS merge",
                      commandLine.action == Action::UsageError ? MB_ICONERROR : MB_OK);
        return commandLine.action == Action::UsageError ? 2 : 0;
    }

    std::vector<std::string> named = a5merge::AbsoluteNames(commandLine.files);

    a5merge::TextFiles files;
    a5merge::SingleInstance instance;
    // A second copy gives its files (Open With, say) to the window that runs,
    // which comes to the front; without files it brings that window to the
    // front, then says it runs (start-up). The first window may not be up
    // yet: tried for a while, and run itself should the other end meanwhile.
    if (instance.AnotherRunning()) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            if (HandToRunningCopy(named) && !named.empty()) return 0;
            if (named.empty() ||
                instance.TryAgain() != a5merge::SingleInstance::Outcome::AlreadyRunning ||
                std::chrono::steady_clock::now() >= deadline) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    // The print dialog wants COM on this thread.
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    a5merge::Win32Desktop desktop([&] {
        files.CloseAll();
        instance.Release();
        a5merge::CleanUpBeforeExit();
    });
    a5merge::Win32Form1 form(desktop, files, instance);
    desktop.SetOwner(form.window());
    form.Load();
    form.Show(showCommand);
    form.TakeFilesOnceShown(std::move(named));
    const int status = form.RunMessages();
    files.CloseAll();
    return status;
}
