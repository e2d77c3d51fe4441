#include "win32/win32_desktop.h"

#include <objbase.h>  // before commdlg.h: PrintDlgEx

#include <commdlg.h>

#include <commctrl.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <thread>
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

Win32Desktop::Win32Desktop(std::function<void()> beforeEnd) : beforeEnd_(std::move(beforeEnd)) {}

int Win32Desktop::MsgBox(const std::string& text, int style,
                         const std::optional<std::string>& title) {
    const int answer =
        ::MessageBoxW(owner_, BoxText(text).c_str(), Wide(title.value_or(kAppTitle)).c_str(),
                      static_cast<UINT>(style));
    return answer == IDOK ? kIdOk : kIdCancel;
}

namespace {

template <class Interface>
struct ComHolder {
    Interface* held = nullptr;
    ~ComHolder() {
        if (held != nullptr) held->Release();
    }
    Interface** out() { return &held; }
    Interface* operator->() const { return held; }
};

// `path` as Windows gives it back from a long-path call: without its \\?\.
std::string WithoutLongPrefix(std::string path) {
    if (path.rfind("\\\\?\\UNC\\", 0) == 0) return "\\\\" + path.substr(8);
    if (path.rfind("\\\\?\\", 0) == 0 && path.size() > 5 && path[5] == ':') return path.substr(4);
    return path;
}

// `path` by another of its names: its short (8.3) one, or its long one.
std::string OtherName(const std::string& path, bool shortName) {
    const std::wstring given = windows::SystemPath(path);
    const auto call = shortName ? ::GetShortPathNameW : ::GetLongPathNameW;
    std::wstring other(call(given.c_str(), nullptr, 0), L'\0');
    const DWORD length = call(given.c_str(), other.data(), static_cast<DWORD>(other.size()));
    if (length == 0 || length >= other.size()) return path;
    other.resize(length);
    return WithoutLongPrefix(windows::Narrow(other));
}

// A folder as the shell's item, for the dialog to start in.
ComHolder<IShellItem> FolderItem(const std::string& folder) {
    ComHolder<IShellItem> item;
    if (folder.empty()) return item;
    if (FAILED(::SHCreateItemFromParsingName(Wide(ShellFolderName(folder)).c_str(), nullptr,
                                             IID_IShellItem,
                                             reinterpret_cast<void**>(item.out())))) {
        item.held = nullptr;
    }
    return item;
}

}  // namespace

// The shell parses no path past MAX_PATH: such a folder goes by its short name.
std::string ShellFolderName(const std::string& folder) {
    return folder.size() < MAX_PATH ? folder : OtherName(folder, true);
}

// In a folder given by its short name: the folder's long name, as the user
// knows it (the file itself may not be there yet).
std::string ChosenPath(const std::string& shellPath) {
    const std::string path = WithoutLongPrefix(shellPath);
    const std::size_t slash = path.find_last_of('\\');
    if (slash == std::string::npos) return path;
    return OtherName(path.substr(0, slash), false) + path.substr(slash);
}

namespace {

// The common item dialog (Open or Save As): it takes and gives paths of
// any length. Nothing when cancelled.
std::optional<std::string> RunFileDialog(HWND owner, bool save, const std::string& title,
                                         const std::string& filter, const std::string& folder,
                                         const std::string& name, const std::string& extension,
                                         FILEOPENDIALOGOPTIONS options) {
    ComHolder<IFileDialog> dialog;
    if (FAILED(::CoCreateInstance(save ? CLSID_FileSaveDialog : CLSID_FileOpenDialog, nullptr,
                                  CLSCTX_INPROC_SERVER, IID_IFileDialog,
                                  reinterpret_cast<void**>(dialog.out())))) {
        throw std::runtime_error("The file dialog could not be opened.");
    }
    // "Postscript (*.PS)|*.PS|PDF (*.pdf)|*.pdf": description and pattern pairs.
    std::vector<std::wstring> parts;
    for (std::size_t at = 0; at <= filter.size();) {
        const std::size_t bar = std::min(filter.find('|', at), filter.size());
        parts.push_back(Wide(filter.substr(at, bar - at)));
        at = bar + 1;
    }
    std::vector<COMDLG_FILTERSPEC> types;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        types.push_back({parts[i].c_str(), parts[i + 1].c_str()});
    }
    if (!types.empty()) {
        dialog->SetFileTypes(static_cast<UINT>(types.size()), types.data());
        dialog->SetFileTypeIndex(1);
    }
    dialog->SetTitle(Wide(title).c_str());
    if (!extension.empty()) dialog->SetDefaultExtension(Wide(extension).c_str());
    FILEOPENDIALOGOPTIONS own = 0;
    dialog->GetOptions(&own);
    dialog->SetOptions(own | options | FOS_FORCEFILESYSTEM | FOS_NOCHANGEDIR);
    if (const ComHolder<IShellItem> start = FolderItem(folder); start.held != nullptr) {
        dialog->SetFolder(start.held);
    }
    if (!name.empty()) dialog->SetFileName(Wide(name).c_str());
    if (FAILED(dialog->Show(owner))) return std::nullopt;  // cancelled (or failed to show)
    ComHolder<IShellItem> chosen;
    wchar_t* path = nullptr;
    if (FAILED(dialog->GetResult(chosen.out())) ||
        FAILED(chosen->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
        return std::nullopt;
    }
    const std::string result = ChosenPath(windows::Narrow(path));
    ::CoTaskMemFree(path);
    return result;
}

}  // namespace

std::optional<std::string> Win32Desktop::SaveAs(const SaveDialog& dialog) {
    // The proposal is a path: its folder is where the dialog starts.
    const std::size_t slash = dialog.fileName.find_last_of("\\/");
    const std::string folder =
        slash == std::string::npos ? dialog.initDir : dialog.fileName.substr(0, slash);
    const std::string name =
        slash == std::string::npos ? dialog.fileName : dialog.fileName.substr(slash + 1);
    return RunFileDialog(
        owner_, true, dialog.title, dialog.filter, folder, name, dialog.defaultExt,
        FOS_PATHMUSTEXIST |
            ((dialog.flags & SaveDialog::kOverwritePrompt) != 0 ? FOS_OVERWRITEPROMPT : 0));
}

std::optional<std::string> Win32Desktop::OpenFile(const OpenDialog& dialog) {
    return RunFileDialog(owner_, false, dialog.title, dialog.filter, dialog.initDir, "", "",
                         FOS_FILEMUSTEXIST | FOS_PATHMUSTEXIST);
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
            choice.options.emplace_back(kDevModeOption,
                                        std::string(settings, mode->dmSize + mode->dmDriverExtra));
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
            font_.Reset(::CreateFontIndirectW(&metrics.lfMessageFont));
        }
        const HFONT font = font_.get();
        const int dpi = std::max(96, ::GetDeviceCaps(WindowDC(nullptr).get(), LOGPIXELSY));
        const auto px = [dpi](int pixels) { return ::MulDiv(pixels, dpi, 96); };
        constexpr DWORD kStyle = WS_POPUP | WS_CAPTION;
        RECT frame{0, 0, px(300), px(96)};
        ::AdjustWindowRectEx(&frame, kStyle, FALSE, WS_EX_DLGMODALFRAME);
        const int width = frame.right - frame.left, height = frame.bottom - frame.top;
        RECT over{};
        if (owner == nullptr || !::GetWindowRect(owner, &over)) {
            ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &over, 0);
        }
        window_ = ::CreateWindowExW(WS_EX_DLGMODALFRAME, kClassName, Wide(kAppTitle).c_str(),
                                    kStyle, (over.left + over.right - width) / 2,
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
            if (font != nullptr)
                ::SendMessageW(made, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
            if (part.style == PBS_MARQUEE) ::SendMessageW(made, PBM_SETMARQUEE, TRUE, 30);
        }
        ::ShowWindow(window_, SW_SHOW);
        ::SetFocus(::GetDlgItem(window_, kCancel));
    }
    ~BusyBox() { ::DestroyWindow(window_); }
    BusyBox(const BusyBox&) = delete;
    BusyBox& operator=(const BusyBox&) = delete;

    HWND window() const { return window_; }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
        auto* box = WindowObject<BusyBox>(window, message, l);
        if (box != nullptr &&
            (message == WM_CLOSE || (message == WM_COMMAND && LOWORD(w) == kCancel))) {
            box->cancel_ = true;  // Cancel, Escape or the close box
            ::EnableWindow(::GetDlgItem(window, kCancel), FALSE);
            return 0;
        }
        return ::DefWindowProcW(window, message, w, l);
    }

    std::atomic<bool>& cancel_;
    FontHolder font_;
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
