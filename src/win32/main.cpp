// The PS merge window on Windows.

#include <windows.h>

#include <objbase.h>

#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "handlers/command_line.h"
#include "handlers/hand_overs.h"
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

std::wstring ProgramOf(HANDLE process) {
    std::wstring image(32768, L'\0');
    DWORD length = static_cast<DWORD>(image.size());
    if (!::QueryFullProcessImageNameW(process, 0, image.data(), &length)) return {};
    image.resize(length);
    return image;
}

// Whose the process `id` is: this very program run by this user, the same
// program with rights this copy may not look into or talk to (run as
// administrator), or anything else.
enum class Whose { Ours, OtherRights, NotOurs };
Whose WhoseProcess(DWORD id) {
    const a5merge::windows::Handle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    const a5merge::windows::Handle self(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ::GetCurrentProcessId()));
    if (!process.valid() || !self.valid()) return Whose::NotOurs;
    const std::wstring program = ProgramOf(process.get());
    const std::wstring ours = ProgramOf(self.get());
    if (program.empty() ||
        ::CompareStringOrdinal(program.c_str(), -1, ours.c_str(), -1, TRUE) != CSTR_EQUAL) {
        return Whose::NotOurs;
    }
    HANDLE token = nullptr, ownToken = nullptr;
    if (!::OpenProcessToken(process.get(), TOKEN_QUERY, &token)) {
        return ::GetLastError() == ERROR_ACCESS_DENIED ? Whose::OtherRights : Whose::NotOurs;
    }
    const a5merge::windows::Handle theirs(token);
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &ownToken)) return Whose::NotOurs;
    const a5merge::windows::Handle mine(ownToken);
    const std::optional<std::wstring> user = a5merge::windows::UserSid(token);
    return user && user == a5merge::windows::UserSid(ownToken) ? Whose::Ours : Whose::NotOurs;
}

// Gives `files` (none: only come to the front) to the window of the copy
// that runs: only to a window of this program's class whose process is
// this program, run by this user; another program's window of that class
// gets nothing.
a5merge::HandedOver HandToRunningCopy(const std::vector<std::string>& files) {
    const std::string block = a5merge::Win32Form1::HandOverBlock(files);
    bool otherRights = false;
    for (HWND window = ::FindWindowExW(nullptr, nullptr, a5merge::Win32Form1::kClassName, nullptr);
         window != nullptr;
         window = ::FindWindowExW(nullptr, window, a5merge::Win32Form1::kClassName, nullptr)) {
        DWORD id = 0;
        ::GetWindowThreadProcessId(window, &id);
        // A hidden window is a copy that says it is not the first and ends.
        if (id == ::GetCurrentProcessId() || !::IsWindowVisible(window)) continue;
        const Whose whose = WhoseProcess(id);
        if (whose == Whose::OtherRights) otherRights = true;
        if (whose != Whose::Ours) continue;
        COPYDATASTRUCT data{};
        data.dwData = a5merge::Win32Form1::kHandOverTag;
        data.cbData = static_cast<DWORD>(block.size());
        data.lpData = const_cast<char*>(block.data());
        ::AllowSetForegroundWindow(id);
        DWORD_PTR answer = FALSE;
        if (::SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                                  SMTO_ABORTIFHUNG, 5000, &answer) != 0) {
            if (answer == TRUE) return a5merge::HandedOver::Taken;
        } else if (::GetLastError() == ERROR_ACCESS_DENIED) {
            otherRights = true;  // a window above this copy's rights takes no message from it
        }
    }
    return otherRights ? a5merge::HandedOver::OtherRights : a5merge::HandedOver::NotTaken;
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
                                     ? a5merge::WindowHelpText(a5merge::QtOptions::None)
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
    // Files that do not reach it are named in the box, with why.
    std::string notHandedOver;
    if (instance.AnotherRunning()) {
        a5merge::SecondCopy copy;
        copy.handOver = HandToRunningCopy;
        copy.stillRunning = [&instance] {
            return instance.TryAgain() == a5merge::SingleInstance::Outcome::AlreadyRunning;
        };
        const a5merge::SecondCopyOutcome outcome = a5merge::HandToTheCopyThatRuns(copy, named);
        if (outcome.taken) return 0;
        notHandedOver = outcome.notTaken;
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
    form.Load(notHandedOver);
    // Its own files come before any another copy hands over.
    form.TakeFilesOnceShown(std::move(named));
    form.Show(showCommand);
    const int status = form.RunMessages();
    files.CloseAll();
    return status;
}
