#include "win32/win32_desktop.h"

#include <objbase.h>  // before commdlg.h: PrintDlgEx

#include <commdlg.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <thread>
#include <cstdlib>
#include <vector>

#include "platform/windows_support.h"
#include "win32/gdi_printer.h"
#include "win32/window_support.h"

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

namespace {

// The box that says what goes on while work runs, with Cancel: over the
// owner, of the owner's font, a marquee below the text.
class BusyBox {
public:
    static constexpr const wchar_t* kClassName = L"a5merge.Busy";
    static constexpr int kCancel = IDCANCEL;

    BusyBox(HWND owner, const std::string& what, std::atomic<bool>& cancel) : cancel_(cancel) {
        const HINSTANCE instance = ::GetModuleHandleW(nullptr);
        RegisterWindowClass(kClassName, Procedure, COLOR_BTNFACE);
        // The font of the system's message boxes.
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
            font_ = ::CreateFontIndirectW(&metrics.lfMessageFont);
        }
        const HFONT font = font_;
        const HDC screen = ::GetDC(nullptr);
        const int dpi = std::max(96, ::GetDeviceCaps(screen, LOGPIXELSY));
        ::ReleaseDC(nullptr, screen);
        const auto px = [dpi](int pixels) { return ::MulDiv(pixels, dpi, 96); };
        constexpr DWORD kStyle = WS_POPUP | WS_CAPTION;
        RECT frame{0, 0, px(300), px(96)};
        ::AdjustWindowRectEx(&frame, kStyle, FALSE, WS_EX_DLGMODALFRAME);
        const int width = frame.right - frame.left, height = frame.bottom - frame.top;
        RECT over{};
        if (owner == nullptr || !::GetWindowRect(owner, &over)) {
            ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &over, 0);
        }
        window_ = ::CreateWindowExW(WS_EX_DLGMODALFRAME, kClassName, Wide(kAppTitle).c_str(), kStyle,
                                    (over.left + over.right - width) / 2,
                                    (over.top + over.bottom - height) / 2, width, height, owner,
                                    nullptr, instance, this);
        const std::wstring said = Wide(what);
        const struct {
            const wchar_t* kind;
            const wchar_t* text;
            DWORD style;
            int id, left, top, width, height;
        } parts[] = {
            {L"STATIC", said.c_str(), SS_LEFT | SS_NOPREFIX, 0, 12, 10, 276, 30},
            {PROGRESS_CLASSW, L"", PBS_MARQUEE, 0, 12, 42, 180, 16},
            {L"BUTTON", L"Cancel", BS_DEFPUSHBUTTON | WS_TABSTOP, kCancel, 204, 60, 84, 26},
        };
        for (const auto& part : parts) {
            const HWND made = ::CreateWindowExW(
                0, part.kind, part.text, WS_CHILD | WS_VISIBLE | part.style, px(part.left),
                px(part.top), px(part.width), px(part.height), window_,
                reinterpret_cast<HMENU>(static_cast<INT_PTR>(part.id)), instance, nullptr);
            if (font != nullptr) ::SendMessageW(made, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
            if (part.style == PBS_MARQUEE) ::SendMessageW(made, PBM_SETMARQUEE, TRUE, 30);
        }
        ::ShowWindow(window_, SW_SHOW);
        ::SetFocus(::GetDlgItem(window_, kCancel));
    }
    ~BusyBox() {
        ::DestroyWindow(window_);
        if (font_ != nullptr) ::DeleteObject(font_);
    }
    BusyBox(const BusyBox&) = delete;
    BusyBox& operator=(const BusyBox&) = delete;

    HWND window() const { return window_; }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
        auto* box = WindowObject<BusyBox>(window, message, l);
        if (box != nullptr && (message == WM_CLOSE ||
                               (message == WM_COMMAND && LOWORD(w) == kCancel))) {
            box->cancel_ = true;  // Cancel, Escape or the close box
            ::EnableWindow(::GetDlgItem(window, kCancel), FALSE);
            return 0;
        }
        return ::DefWindowProcW(window, message, w, l);
    }

    std::atomic<bool>& cancel_;
    HFONT font_ = nullptr;
    HWND window_ = nullptr;
};

// The enabled windows of this thread, disabled while it lives: no input
// reaches them, as under a modal box.
class InputHeld {
public:
    InputHeld() {
        ::EnumThreadWindows(
            ::GetCurrentThreadId(),
            [](HWND window, LPARAM held) {
                if (::IsWindowEnabled(window) && ::IsWindowVisible(window)) {
                    ::EnableWindow(window, FALSE);
                    reinterpret_cast<std::vector<HWND>*>(held)->push_back(window);
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&held_));
    }
    ~InputHeld() {
        for (const HWND window : held_) ::EnableWindow(window, TRUE);
    }
    InputHeld(const InputHeld&) = delete;
    InputHeld& operator=(const InputHeld&) = delete;

private:
    std::vector<HWND> held_;
};

}  // namespace

// The work runs on a thread of its own; the windows take no input
// meanwhile but go on painting. After a short while a box says what goes
// on and offers Cancel.
void Win32Desktop::WhileBusy(const std::string& what,
                             const std::function<void(const std::atomic<bool>& cancel)>& work) {
    std::atomic<bool> cancel{false};
    std::exception_ptr error;
    const HCURSOR before = ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    std::optional<BusyBox> box;
    {
        const InputHeld held;
        const windows::Handle finished(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        const HANDLE done = finished.get();
        std::thread worker([&] {
            try {
                work(cancel);
            } catch (...) {
                error = std::current_exception();
            }
            ::SetEvent(done);
        });
        const ULONGLONG showAt = ::GetTickCount64() + kBusyBoxAfterMs;
        for (;;) {
            const DWORD waited = ::MsgWaitForMultipleObjects(1, &done, FALSE, 50, QS_ALLINPUT);
            if (waited == WAIT_OBJECT_0) break;
            if (!box && ::GetTickCount64() >= showAt) box.emplace(owner_, what, cancel);
            MSG message{};
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.message == WM_QUIT) {  // for the loop that waits for it
                    ::PostQuitMessage(static_cast<int>(message.wParam));
                    break;
                }
                if (box && ::IsDialogMessageW(box->window(), &message)) continue;
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        }
        worker.join();
    }
    box.reset();
    ::SetCursor(before);
    if (error) std::rethrow_exception(error);
}

void Win32Desktop::EndProgram(int status) {
    if (beforeEnd_) beforeEnd_();
    std::fflush(nullptr);
    ::ExitProcess(static_cast<UINT>(status));
}

}  // namespace a5merge
