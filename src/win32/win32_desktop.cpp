#include "win32/win32_desktop.h"

#include <objbase.h>  // before commdlg.h: PrintDlgEx

#include <commdlg.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/windows_support.h"
#include "win32/gdi_printer.h"

namespace a5merge {

using windows::Narrow;
using windows::Wide;

namespace {

constexpr const char* kAppTitle = "PS merge";

// Text as a box shows it: every line end CR LF.
std::wstring BoxText(const std::string& text) {
    std::wstring shown;
    const std::wstring wide = Wide(text);
    for (std::size_t i = 0; i < wide.size(); ++i) {
        if (wide[i] == L'\r') {
            shown += L"\r\n";
            if (i + 1 < wide.size() && wide[i + 1] == L'\n') ++i;
        } else if (wide[i] == L'\n') {
            shown += L"\r\n";
        } else {
            shown += wide[i];
        }
    }
    return shown;
}

}  // namespace

std::wstring DialogFilter(const std::string& filter) {
    std::wstring result = Wide(filter);
    for (wchar_t& c : result) {
        if (c == L'|') c = L'\0';
    }
    result.push_back(L'\0');
    result.push_back(L'\0');
    return result;
}

Win32Desktop::Win32Desktop(std::function<void()> beforeEnd) : beforeEnd_(std::move(beforeEnd)) {}

int Win32Desktop::MsgBox(const std::string& text, int style,
                         const std::optional<std::string>& title) {
    const int answer = ::MessageBoxW(owner_, BoxText(text).c_str(),
                                     Wide(title.value_or(kAppTitle)).c_str(),
                                     static_cast<UINT>(style));
    return answer == IDOK ? kIdOk : kIdCancel;
}

namespace {

// The common dialog's settings both dialogs share; the chosen name comes
// back in `name`.
struct FileDialog {
    std::vector<wchar_t> name = std::vector<wchar_t>(32768, L'\0');
    std::wstring filter, title, folder;
    OPENFILENAMEW settings{};

    FileDialog(HWND owner, const std::string& filterText, const std::string& titleText,
               const std::string& initDir, DWORD flags)
        : filter(DialogFilter(filterText)), title(Wide(titleText)), folder(Wide(initDir)) {
        settings.lStructSize = sizeof settings;
        settings.hwndOwner = owner;
        settings.lpstrFilter = filter.c_str();
        settings.nFilterIndex = 1;
        settings.lpstrFile = name.data();
        settings.nMaxFile = static_cast<DWORD>(name.size());
        settings.lpstrTitle = title.c_str();
        settings.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
        settings.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR | OFN_HIDEREADONLY | flags;
    }
};

}  // namespace

std::optional<std::string> Win32Desktop::SaveAs(const SaveDialog& dialog) {
    FileDialog chooser(owner_, dialog.filter, dialog.title, dialog.initDir,
                       OFN_PATHMUSTEXIST | ((dialog.flags & SaveDialog::kOverwritePrompt) != 0
                                                ? OFN_OVERWRITEPROMPT
                                                : 0));
    const std::wstring proposed = Wide(dialog.fileName);
    proposed.copy(chooser.name.data(), std::min(proposed.size(), chooser.name.size() - 1));
    const std::wstring extension = Wide(dialog.defaultExt);
    chooser.settings.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
    if (!::GetSaveFileNameW(&chooser.settings)) return std::nullopt;
    return Narrow(chooser.name.data());
}

std::optional<std::string> Win32Desktop::OpenFile(const OpenDialog& dialog) {
    FileDialog chooser(owner_, dialog.filter, dialog.title, dialog.initDir, OFN_FILEMUSTEXIST);
    if (!::GetOpenFileNameW(&chooser.settings)) return std::nullopt;
    return Narrow(chooser.name.data());
}

// The system's print dialog: the printer, copies and paper; A4 is chosen
// until the user chooses another paper. Printing into a file is not offered
// (Save as PDF is that).
std::optional<PrintChoice> Win32Desktop::ChoosePrinter(const std::string&) {
    PRINTPAGERANGE range{1, 1};
    PRINTDLGEXW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner_;
    dialog.nPageRanges = 1;
    dialog.nMaxPageRanges = 1;
    dialog.lpPageRanges = &range;
    dialog.nMinPage = 1;
    dialog.nMaxPage = 1;
    dialog.nCopies = 1;
    dialog.nStartPage = START_PAGE_GENERAL;
    struct Free {
        PRINTDLGEXW& dialog;
        ~Free() {
            if (dialog.hDevMode != nullptr) ::GlobalFree(dialog.hDevMode);
            if (dialog.hDevNames != nullptr) ::GlobalFree(dialog.hDevNames);
        }
    } free{dialog};
    dialog.Flags = PD_RETURNDEFAULT;
    if (SUCCEEDED(::PrintDlgExW(&dialog)) && dialog.hDevMode != nullptr) {
        if (auto* settings = static_cast<DEVMODEW*>(::GlobalLock(dialog.hDevMode))) {
            PreferA4(*settings);
            ::GlobalUnlock(dialog.hDevMode);
        }
    }
    dialog.Flags = PD_NOPAGENUMS | PD_NOSELECTION | PD_NOCURRENTPAGE |
                   PD_USEDEVMODECOPIESANDCOLLATE | PD_DISABLEPRINTTOFILE | PD_HIDEPRINTTOFILE;
    if (FAILED(::PrintDlgExW(&dialog)) || dialog.dwResultAction != PD_RESULT_PRINT ||
        dialog.hDevNames == nullptr) {
        return std::nullopt;
    }
    PrintChoice choice;
    if (const auto* names = static_cast<const DEVNAMES*>(::GlobalLock(dialog.hDevNames))) {
        choice.printer = Narrow(reinterpret_cast<const wchar_t*>(names) + names->wDeviceOffset);
        ::GlobalUnlock(dialog.hDevNames);
    }
    if (dialog.hDevMode != nullptr) {
        if (const auto* settings = static_cast<const char*>(::GlobalLock(dialog.hDevMode))) {
            const auto* mode = reinterpret_cast<const DEVMODEW*>(settings);
            choice.options.emplace_back(
                kDevModeOption, std::string(settings, mode->dmSize + mode->dmDriverExtra));
            ::GlobalUnlock(dialog.hDevMode);
        }
    }
    if (choice.printer.empty()) return std::nullopt;
    return choice;
}

void Win32Desktop::WhileBusy(const std::string&,
                             const std::function<void(const std::atomic<bool>& cancel)>& work) {
    const std::atomic<bool> never{false};
    const HCURSOR before = ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    struct Restore {
        HCURSOR cursor;
        ~Restore() { ::SetCursor(cursor); }
    } restore{before};
    work(never);
}

void Win32Desktop::EndProgram(int status) {
    if (beforeEnd_) beforeEnd_();
    std::fflush(nullptr);
    ::ExitProcess(static_cast<UINT>(status));
}

}  // namespace a5merge
