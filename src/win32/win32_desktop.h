#pragma once

#include <windows.h>

#include <functional>

#include "platform/desktop.h"

namespace a5merge {

// The desktop of the Windows window: message boxes with the styles given
// (Windows' own values), the common Save As and Open dialogs, and the end of
// the program.
class Win32Desktop : public Desktop {
public:
    // `beforeEnd` runs before the program ends through End().
    explicit Win32Desktop(std::function<void()> beforeEnd = {});

    // The window boxes and dialogs belong to.
    void SetOwner(HWND owner) { owner_ = owner; }

    int MsgBox(const std::string& text, int style,
               const std::optional<std::string>& title = std::nullopt) override;
    std::optional<std::string> SaveAs(const SaveDialog& dialog) override;
    std::optional<std::string> OpenFile(const OpenDialog& dialog) override;
    // The system's print dialog (PrintDlgEx); the DEVMODE chosen comes as
    // the option kDevModeOption.
    std::optional<PrintChoice> ChoosePrinter(const std::string& title) override;
    // Runs `work` on a thread of its own while this thread's windows take no
    // input; after kBusyBoxAfterMs a box says `what` and offers Cancel.
    static constexpr ULONGLONG kBusyBoxAfterMs = 400;
    void WhileBusy(const std::string& what,
                   const std::function<void(const std::atomic<bool>& cancel)>& work) override;

protected:
    void EndProgram(int status) override;

private:
    HWND owner_ = nullptr;
    std::function<void()> beforeEnd_;
};

// For the system's file dialogs, which take and give paths of any length:
// the name the shell is given for `folder` to start in (past MAX_PATH, its
// short name), and a path a dialog chose as the user knows it (its folder's
// long name, no \\?\).
std::string ShellFolderName(const std::string& folder);
std::string ChosenPath(const std::string& shellPath);

}  // namespace a5merge
