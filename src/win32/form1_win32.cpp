#include "win32/form1_win32.h"

#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>

#include "input/path_helpers.h"
#include "platform/windows_support.h"

namespace a5merge {

using windows::Narrow;
using windows::Wide;

namespace {

constexpr UINT kTakeHandOver = WM_APP + 1;  // the next files handed over, from the queue
constexpr UINT kRunPosted = WM_APP + 2;     // results of background work

constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// A zone's label passes files dropped on it to the zone. (Wine gives a drop
// to the innermost window under the pointer, and only when that window
// itself takes files.)
LRESULT CALLBACK PassDropsToZone(HWND window, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                 DWORD_PTR) {
    if (message == WM_DROPFILES) return ::SendMessageW(::GetParent(window), message, w, l);
    return ::DefSubclassProc(window, message, w, l);
}

void TakeDropsFor(HWND zonePart) { ::SetWindowSubclass(zonePart, PassDropsToZone, 1, 0); }

}  // namespace

Win32Form1::Win32Form1(Desktop& desktop, TextFiles& files, InstanceTest& instances)
    : handlers_(
          desktop, files, instances, *this,
          [this] { ::PostMessageW(window_, kTakeHandOver, 0, 0); }, this),
      printer_(handlers_.ghostscript(),
               [this](const std::function<void()>& work) { RunOnWindowThread(work); }),
      posted_(kRunPosted) {
    handlers_.UsePrintSpooler(printer_);
    Create();
    posted_.SetWindow(window_);
    tip_ = std::make_unique<DrawingTip>(
        handlers_.ghostscript(), windowFont_.get(), tipFont_.get(), dpi_,
        [this](std::function<void()> work) { posted_.Post(std::move(work)); });
}

Win32Form1::~Win32Form1() {
    preview_.reset();
    tip_.reset();
    if (window_ != nullptr) {
        ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        ::DestroyWindow(window_);
    }
}

void Win32Form1::Create() {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    icon_ = ::LoadIconW(instance, MAKEINTRESOURCEW(1));
    if (icon_ == nullptr) icon_ = ::LoadIconW(nullptr, IDI_APPLICATION);
    RegisterWindowClass(kClassName, FormProcedure, COLOR_BTNFACE, icon_);

    dpi_ = DpiOf(nullptr);  // the screen's, until the window is on its monitor
    MakeFonts();

    RECT frame{0, 0, Pixels(kForm1Width), Pixels(kForm1Height)};
    ::AdjustWindowRectEx(&frame, kFormStyle, FALSE, 0);
    // The design's place, kept on the screen.
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int left =
        std::clamp(static_cast<int>(Pixels(kForm1Left) + frame.left), static_cast<int>(work.left),
                   std::max(static_cast<int>(work.left), static_cast<int>(work.right) - width));
    const int top =
        std::clamp(static_cast<int>(Pixels(kForm1Top) + frame.top), static_cast<int>(work.top),
                   std::max(static_cast<int>(work.top), static_cast<int>(work.bottom) - height));
    window_ = ::CreateWindowExW(0, kClassName, L"PS merge", kFormStyle, left, top, width, height,
                                nullptr, nullptr, instance, this);

    MakeControl(L"STATIC", SS_LEFTNOWORDWRAP | SS_NOPREFIX, lblKorva, window_);
    MakeControl(L"STATIC", SS_LEFTNOWORDWRAP | SS_NOPREFIX, lblA5, window_);
    // The buttons first: they come first in the Tab order, MERGE + SAVE with the focus.
    MakeControl(L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, cmdMerge, window_);
    MakeControl(L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, cmdExit, window_);
    const struct { Control frame, label; } zones[] = {{frmTop, lblTop}, {frmBottom, lblBottom}};
    for (const auto& z : zones) {
        // The zone is a button to the keyboard and to screen readers (its
        // name says its state), drawn as a frame with the caption
        // "Drag/Drop", as a group box is; it takes drops and pastes.
        const HWND zoneWindow =
            MakeControl(L"BUTTON", BS_OWNERDRAW | WS_TABSTOP | WS_CLIPCHILDREN, z.frame, window_);
        ::DragAcceptFiles(zoneWindow, TRUE);
        ::SetWindowSubclass(zoneWindow, ZoneProcedure, 1, reinterpret_cast<DWORD_PTR>(this));
        TakeDropsFor(MakeControl(L"STATIC", SS_LEFTNOWORDWRAP | SS_NOPREFIX, z.label, zoneWindow));
    }
    // On a monitor of another scale than the screen's: laid out at its DPI.
    if (const int own = DpiOf(window_); own != dpi_) {
        ApplyDpi(own, nullptr);
    } else {
        LayOut();
    }
    Describe();
}

void Win32Form1::MakeFonts() {
    const auto font = [this](DesignFont design) {
        return TahomaFont(design.points, design.bold, dpi_);
    };
    windowFont_.Reset(font(kForm1Font));
    titleFont_.Reset(font(DesignOf(lblKorva).font));
    subtitleFont_.Reset(font(DesignOf(lblA5).font));
    zoneFont_.Reset(font(DesignOf(lblTop).font));
    tipFont_.Reset(font(kTipFont));
}

// Every control at its design's place and font at the window's DPI.
void Win32Form1::LayOut() {
    for (const ControlDesign& place : kForm1Controls) {
        const Control id = place.id;
        const HWND made = control(id);
        ::SetWindowPos(made, nullptr, Pixels(place.left), Pixels(place.top), Pixels(place.width),
                       Pixels(place.height), SWP_NOZORDER | SWP_NOACTIVATE);
        const bool zoneLabel = id == lblTop || id == lblBottom;
        const HFONT font = id == lblKorva ? titleFont_.get()
                           : id == lblA5  ? subtitleFont_.get()
                           : zoneLabel    ? zoneFont_.get()
                                          : windowFont_.get();
        ::SendMessageW(made, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    FitText(control(lblKorva), titleFont_, DesignOf(lblKorva).font);
    FitText(control(lblA5), subtitleFont_, DesignOf(lblA5).font);
    ::InvalidateRect(window_, nullptr, TRUE);
}

// The window moved to a monitor of another scale (or the scale changed):
// fonts and places at the new DPI, the window where the system suggests
// (else its client area as designed), the tooltip along.
void Win32Form1::ApplyDpi(int dpi, const RECT* suggested) {
    dpi_ = dpi;
    MakeFonts();
    LayOut();
    if (suggested != nullptr) {
        TakeRect(window_, *suggested);
    } else {
        RECT frame{0, 0, Pixels(kForm1Width), Pixels(kForm1Height)};
        ::AdjustWindowRectEx(&frame, kFormStyle, FALSE, 0);
        ::SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                       SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    }
    if (tip_) tip_->SetDpi(dpi_, windowFont_.get(), tipFont_.get());
}

// Where a font's text is wider than its label (a Tahoma of other metrics),
// the font shrinks until it fits: every caption stays whole on one line.
void Win32Form1::FitText(HWND label, FontHolder& font, DesignFont design) {
    RECT room{};
    ::GetClientRect(label, &room);
    const int length = ::GetWindowTextLengthW(label);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    ::GetWindowTextW(label, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(length));
    const WindowDC dc(label);
    const double points = FittedPoints(design.points, [&](double trial) {
        if (trial != design.points) font.Reset(TahomaFont(trial, design.bold, dpi_));
        const Selection selected(dc.get(), font.get());
        SIZE size{};
        ::GetTextExtentPoint32W(dc.get(), text.c_str(), length, &size);
        return size.cx <= room.right;
    });
    if (points != design.points) font.Reset(TahomaFont(points, design.bold, dpi_));
    ::SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
}

// A control, placed and given its font by LayOut.
HWND Win32Form1::MakeControl(const wchar_t* kind, DWORD style, Control id, HWND parent) {
    const ControlDesign& place = DesignOf(id);
    // A zone's caption is drawn on its frame.
    const char* caption = id == frmTop || id == frmBottom ? "" : place.caption;
    // Inside a zone, every part takes files (and passes them to the zone).
    return ::CreateWindowExW(parent == window_ ? 0 : WS_EX_ACCEPTFILES, kind, Wide(caption).c_str(),
                             WS_CHILD | WS_VISIBLE | style, Pixels(place.left), Pixels(place.top),
                             Pixels(place.width), Pixels(place.height), parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(IdOf(id))),
                             ::GetModuleHandleW(nullptr), this);
}

HWND Win32Form1::control(Control id) const {
    if (id == lblTop) return ::GetDlgItem(::GetDlgItem(window_, IdOf(frmTop)), IdOf(lblTop));
    if (id == lblBottom) {
        return ::GetDlgItem(::GetDlgItem(window_, IdOf(frmBottom)), IdOf(lblBottom));
    }
    return ::GetDlgItem(window_, IdOf(id));
}

void Win32Form1::Show(int showCommand) {
    ::ShowWindow(window_, showCommand);
    ::UpdateWindow(window_);
    ::SetFocus(control(cmdMerge));
    handlers_.Shown();
}

int Win32Form1::RunMessages() {
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (Shortcut(message)) continue;
        if (::IsWindow(window_) && ::IsDialogMessageW(window_, &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

bool Win32Form1::Shortcut(MSG& message) {
    const UINT kind = message.message;
    if (kind == WM_KEYDOWN || kind == WM_SYSKEYDOWN || kind == WM_LBUTTONDOWN ||
        kind == WM_RBUTTONDOWN) {
        tip_->Hide();
    }
    if (preview_ && preview_->CloseKey(message)) return true;
    // The main window's keys, in the preview as well; then the preview's
    // own (Tab, Enter and Space on its buttons).
    const auto within = [&message](HWND window) {
        return message.hwnd == window || ::IsChild(window, message.hwnd);
    };
    if (!within(window_) && !(preview_ && within(preview_->window()))) return false;
    return CommandKey(message) || (preview_ && preview_->DialogKey(message));
}

bool Win32Form1::CommandKey(const MSG& message) {
    const UINT kind = message.message;
    const bool control = ::GetKeyState(VK_CONTROL) < 0;
    const bool shift = ::GetKeyState(VK_SHIFT) < 0;
    const WPARAM key = message.wParam;
    // The Menu key and Shift+F10 open the menu; their key-up is taken too,
    // so that the system does not open it a second time.
    const bool menuKey = key == VK_APPS || (key == VK_F10 && shift);
    if (menuKey && (kind == WM_KEYUP || kind == WM_SYSKEYUP)) return true;
    if (menuKey && (kind == WM_KEYDOWN || kind == WM_SYSKEYDOWN)) {
        ShowMenu({-1, -1});
        return true;
    }
    // Ctrl+Alt is AltGr on many keyboards: a character, not a shortcut.
    if (kind != WM_KEYDOWN || !control || ::GetKeyState(VK_MENU) < 0) return false;
    for (const MenuItem& item : kMenuItems) {
        // A letter's or digit's virtual-key code is the character itself.
        if (key == static_cast<WPARAM>(item.key) && shift == item.shift) {
            Run(item.command);
            return true;
        }
    }
    return false;
}

void Win32Form1::Run(MenuCommand command) {
    handlers_.Run(command, [this](const SheetSources& sources) {
        if (!preview_) {
            preview_ = std::make_unique<Win32PreviewWindow>(
                handlers_.ghostscript(), window_,
                [this](std::function<void()> work) { posted_.Post(std::move(work)); },
                [this] { handlers_.Print(); }, [this] { handlers_.SaveAsPdf(); });
        }
        preview_->Show(sources);
    });
}

void Win32Form1::RunOnWindowThread(const std::function<void()>& work) {
    if (::GetCurrentThreadId() == ::GetWindowThreadProcessId(window_, nullptr)) {
        work();
        return;
    }
    const windows::Handle ran(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const HANDLE signal = ran.get();
    posted_.Post([&work, signal] {
        work();
        ::SetEvent(signal);
    });
    ::WaitForSingleObject(signal, INFINITE);
}

void Win32Form1::ShowMenu(POINT at) {
    if (at.x == -1 && at.y == -1) {
        const HWND focus = ::GetFocus();
        RECT below{};
        ::GetWindowRect(focus != nullptr && ::IsChild(window_, focus) ? focus : window_, &below);
        at = {(below.left + below.right) / 2, (below.top + below.bottom) / 2};
    }
    tip_->Hide();
    menuOpen_ = true;  // no tooltip over it
    const HMENU menu = ::CreatePopupMenu();
    int id = kFirstMenuItem;
    for (const MenuItem& item : kMenuItems) {
        if (item.separatorBefore) ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuW(menu, MF_STRING, id++,
                      Wide(std::string(item.text) + "\t" + ShortcutText(item)).c_str());
    }
    const int chosen = static_cast<int>(::TrackPopupMenu(
        menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, window_, nullptr));
    ::DestroyMenu(menu);
    menuOpen_ = false;
    if (chosen >= kFirstMenuItem && chosen < id) Run(kMenuItems[chosen - kFirstMenuItem].command);
}

void Win32Form1::ShowTip(Zone zone, POINT at) {
    if (menuOpen_) return;
    const bool top = zone == Zone::Top;
    const MergeState& now = state();
    tipZone_ = zone;
    tip_->Show(top ? "TOP" : "BOTTOM",
               (top ? now.topOK : now.bottomOK) != 0 ? (top ? now.topFile : now.bottomFile) : "",
               at, handlers_.Refusal(zone));
}

// A tip on the screen shows what its zone holds now.
void Win32Form1::ShowTip(Zone) {
    if (tipZone_ && tip_->visible()) {
        POINT at{};
        ::GetCursorPos(&at);
        ShowTip(*tipZone_, at);
    }
}

void Win32Form1::ShowSheetOf(const SheetSources& sources) {
    if (preview_) preview_->SetSources(sources);
}

LRESULT CALLBACK Win32Form1::FormProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* form = WindowObject<Win32Form1>(window, message, l);
    if (form == nullptr || form->window_ == nullptr) return ::DefWindowProcW(window, message, w, l);
    return form->OnFormMessage(message, w, l);
}

LRESULT Win32Form1::OnFormMessage(UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_COMMAND: {
            // Enter (IDOK) presses the button with the focus; Escape
            // (IDCANCEL) does nothing.
            int id = HIWORD(w) == BN_CLICKED ? LOWORD(w) : 0;
            if (id == IDOK) id = ::GetDlgCtrlID(::GetFocus());
            if (id == IdOf(cmdMerge)) handlers_.cmdMerge_Click();
            if (id == IdOf(cmdExit)) handlers_.cmdExit_Click();
            // A click, Space or Enter on a zone: its Open dialog.
            if (id == IdOf(frmTop)) handlers_.ChooseFile(Zone::Top);
            if (id == IdOf(frmBottom)) handlers_.ChooseFile(Zone::Bottom);
            return 0;
        }
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(l);
            if (item->CtlID == static_cast<UINT>(IdOf(frmTop)) ||
                item->CtlID == static_cast<UINT>(IdOf(frmBottom))) {
                DrawZone(*item);
            }
            return TRUE;
        }
        case WM_ACTIVATE:
            // The focus goes back where it was when a box or dialog closes,
            // as in a dialog.
            if (LOWORD(w) == WA_INACTIVE) {
                tip_->Hide();
                const HWND focus = ::GetFocus();
                if (focus != nullptr && ::IsChild(window_, focus)) lastFocus_ = focus;
            } else {
                ::SetFocus(lastFocus_ != nullptr && ::IsWindow(lastFocus_) ? lastFocus_
                                                                           : control(cmdMerge));
            }
            return 0;
        case kTakeHandOver:
            handlers_.TakeHandOver();
            return 0;
        case kRunPosted:
            posted_.RunPosted();
            return 0;
        case WM_CONTEXTMENU:
            ShowMenu({GET_X_LPARAM(l), GET_Y_LPARAM(l)});
            return 0;
        case WM_COPYDATA: {
            const std::optional<std::vector<std::string>> files =
                HandedOver(*reinterpret_cast<const COPYDATASTRUCT*>(l));
            if (!files) return FALSE;
            // Taken only while the window shows and does not end: else the
            // copy that sent them keeps them.
            if (!files->empty() && !handlers_.TakeFilesFromAnotherCopy(*files)) return FALSE;
            if (::IsIconic(window_)) ::ShowWindow(window_, SW_RESTORE);
            ::SetForegroundWindow(window_);
            return TRUE;
        }
        case WM_DPICHANGED:
            ApplyDpi(HIWORD(w), reinterpret_cast<const RECT*>(l));
            return 0;
        case WM_CLOSE:
            // The window system's close: the program ends, without EXIT's question.
            handlers_.Closing();
            ::DestroyWindow(window_);
            return 0;
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        default:
            return ::DefWindowProcW(window_, message, w, l);
    }
}

LRESULT CALLBACK Win32Form1::ZoneProcedure(HWND zone, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                           DWORD_PTR form) {
    return reinterpret_cast<Win32Form1*>(form)->OnZoneMessage(zone, message, w, l);
}

// What a zone does beyond a button's own: it takes drops and pastes, and
// Enter chooses a file there as Space does.
LRESULT Win32Form1::OnZoneMessage(HWND zone, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_DROPFILES: {
            const auto drop = reinterpret_cast<HDROP>(w);
            const std::vector<std::string> files = DroppedFiles(drop);
            ::DragFinish(drop);
            handlers_.TakeFiles(ZoneOf(zone), files);
            return 0;
        }
        case WM_MOUSEMOVE: {
            TRACKMOUSEEVENT track{sizeof track, TME_HOVER | TME_LEAVE, zone, HOVER_DEFAULT};
            ::TrackMouseEvent(&track);
            break;
        }
        case WM_MOUSEHOVER: {
            POINT at{GET_X_LPARAM(l), GET_Y_LPARAM(l)};
            ::ClientToScreen(zone, &at);
            ShowTip(ZoneOf(zone), at);
            return 0;
        }
        case WM_MOUSELEAVE:
            tip_->Hide();
            break;
        case WM_KEYDOWN: {
            const bool control = ::GetKeyState(VK_CONTROL) < 0;
            const bool shift = ::GetKeyState(VK_SHIFT) < 0;
            if ((control && w == 'V') || (shift && w == VK_INSERT)) {
                const std::vector<std::string> files = ClipboardFiles(window_);
                if (!files.empty()) handlers_.TakeFiles(ZoneOf(zone), files);
                return 0;
            }
            break;
        }
        default:
            break;
    }
    return ::DefSubclassProc(zone, message, w, l);
}

// A zone: its frame, the caption "Drag/Drop" in it, and the focus inside.
void Win32Form1::DrawZone(const DRAWITEMSTRUCT& item) {
    const HDC dc = item.hDC;
    ::FillRect(dc, &item.rcItem, ::GetSysColorBrush(COLOR_BTNFACE));
    const Selection selected(dc, windowFont_.get());
    const wchar_t caption[] = L"Drag/Drop";
    SIZE size{};
    ::GetTextExtentPoint32W(dc, caption, 9, &size);
    RECT edge = item.rcItem;
    edge.top += size.cy / 2;
    ::DrawEdge(dc, &edge, EDGE_ETCHED, BF_RECT);
    ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
    ::SetTextColor(dc, ::GetSysColor(COLOR_BTNTEXT));
    ::SetBkMode(dc, OPAQUE);
    RECT text{Pixels(90), 0, Pixels(90) + size.cx + Pixels(60), size.cy};
    ::DrawTextW(dc, caption, 9, &text, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
    if ((item.itemState & ODS_FOCUS) != 0) {
        RECT inner = edge;
        ::InflateRect(&inner, -Pixels(60), -Pixels(60));
        inner.top += Pixels(60);
        ::DrawFocusRect(dc, &inner);
    }
}

std::vector<std::string> Win32Form1::DroppedFiles(HDROP drop) {
    std::vector<std::string> files;
    const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        std::wstring name(::DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
        const UINT length = ::DragQueryFileW(drop, i, name.data(), static_cast<UINT>(name.size()));
        name.resize(length);
        files.push_back(Narrow(name));
    }
    return files;
}

std::vector<std::string> Win32Form1::ClipboardFiles(HWND owner) {
    std::vector<std::string> files;
    if (!::OpenClipboard(owner)) return files;
    if (const HANDLE drop = ::GetClipboardData(CF_HDROP)) {
        files = DroppedFiles(static_cast<HDROP>(drop));
    } else if (const HANDLE text = ::GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(::GlobalLock(text))) {
            std::optional<std::string> path =
                PathOfPastedText(Narrow(chars), PastedText::AnyNameMaybeQuoted);
            ::GlobalUnlock(text);
            if (path) files.push_back(std::move(*path));
        }
    }
    ::CloseClipboard();
    return files;
}

std::string Win32Form1::HandOverBlock(const std::vector<std::string>& files) {
    return HandOverNames(files);
}

// One or two names of files (drive-letter or UNC paths; no device, nothing
// relative), at most as long as the longest path Windows knows; anything
// else is no hand-over.
std::optional<std::vector<std::string>> Win32Form1::HandedOver(const COPYDATASTRUCT& data) {
    constexpr DWORD kLongestName = 32768 * 4;  // UTF-8 bytes
    if (data.dwData != kHandOverTag || data.cbData > 2 * (kLongestName + 1) ||
        (data.cbData > 0 && data.lpData == nullptr)) {
        return std::nullopt;
    }
    return FilesOfHandOver({static_cast<const char*>(data.lpData), data.cbData}, kLongestName,
                           windows::IsFileNamespacePath);
}

void Win32Form1::SetCaption(Label label, const std::string& text) {
    ::SetWindowTextW(control(label == Label::lblTop ? lblTop : lblBottom), Wide(text).c_str());
    Describe();
}

// What a screen reader says of each zone: its state and its file's name.
void Win32Form1::Describe() {
    ::SetWindowTextW(control(frmTop), Wide(ZoneAccessibleName(Zone::Top, state())).c_str());
    ::SetWindowTextW(control(frmBottom), Wide(ZoneAccessibleName(Zone::Bottom, state())).c_str());
}

}  // namespace a5merge
