#include "win32/preview_win32.h"

#include <algorithm>

#include "ghostscript/ghostscript.h"
#include "handlers/sheet_preview.h"
#include "platform/windows_support.h"

namespace a5merge {

using windows::Wide;

namespace {

constexpr int kMargin = 14;     // grey around the page
constexpr int kButtonRow = 44;  // the buttons and the status line below the page
constexpr int kWidth = 440, kHeight = 660, kMinWidth = 220, kMinHeight = 320;
constexpr UINT_PTR kResizedTimer = 1;  // a resize renders again once it has come to rest

}  // namespace

Win32PreviewWindow::Win32PreviewWindow(const Ghostscript& ghostscript, HWND owner,
                                       BackgroundRun::Post post, std::function<void()> print,
                                       std::function<void()> savePdf)
    : owner_(owner),
      print_(std::move(print)),
      savePdf_(std::move(savePdf)),
      render_(ghostscript, std::move(post)) {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    RegisterWindowClass(kClassName, Procedure, -1,
                        reinterpret_cast<HICON>(::GetClassLongPtrW(owner, GCLP_HICON)));

    dpi_ = std::max(96, DpiOf(owner));  // its own once it is on its monitor
    font_.Reset(TahomaFont(8.25, false, dpi_));
    window_ = ::CreateWindowExW(0, kClassName, Wide(kPreviewTitle).c_str(),
                                WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT,
                                Scaled(kWidth), Scaled(kHeight), owner, nullptr, instance, this);
    const struct {
        const wchar_t* kind;
        const wchar_t* text;
        DWORD style;
        Control id;
    } controls[] = {
        {L"STATIC", L"", SS_LEFT | SS_NOPREFIX, previewStatus},
        {L"BUTTON", L"Print...", BS_PUSHBUTTON | WS_TABSTOP, previewPrint},
        {L"BUTTON", L"Save as PDF...", BS_PUSHBUTTON | WS_TABSTOP, previewSavePdf},
    };
    for (const auto& c : controls) {
        const HWND made = ::CreateWindowExW(
            0, c.kind, c.text, WS_CHILD | WS_VISIBLE | c.style, 0, 0, 10, 10, window_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, nullptr);
        ::SendMessageW(made, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    }
    if (const int own = std::max(96, DpiOf(window_)); own != dpi_) {
        ApplyDpi(own, nullptr);
    } else {
        Layout();
    }
}

// At another DPI (another monitor, another scale): its font, its size and
// its picture at the new one; the window where the system suggests.
void Win32PreviewWindow::ApplyDpi(int dpi, const RECT* suggested) {
    RECT own{};
    ::GetWindowRect(window_, &own);
    const int oldDpi = dpi_;
    dpi_ = dpi;
    font_.Reset(TahomaFont(8.25, false, dpi_));
    for (const Control id : {previewStatus, previewPrint, previewSavePdf}) {
        ::SendMessageW(::GetDlgItem(window_, id), WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()),
                       TRUE);
    }
    if (suggested != nullptr) {
        TakeRect(window_, *suggested);
    } else {
        ::SetWindowPos(window_, nullptr, 0, 0, ::MulDiv(own.right - own.left, dpi, oldDpi),
                       ::MulDiv(own.bottom - own.top, dpi, oldDpi),
                       SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    }
    Layout();
    ::InvalidateRect(window_, nullptr, FALSE);  // its new size renders it again
}

Win32PreviewWindow::~Win32PreviewWindow() {
    render_.CancelAll();
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    ::DestroyWindow(window_);
}

void Win32PreviewWindow::Show(const SheetSources& sources) {
    render_.SetSources(sources);
    if (!placed_) PlaceBesideOwner();
    ::ShowWindow(window_, SW_SHOWNORMAL);
    ::SetForegroundWindow(window_);
    ::SetFocus(::GetDlgItem(window_, previewPrint));
    Render();
}

void Win32PreviewWindow::SetSources(const SheetSources& sources) {
    render_.SetSources(sources);
    if (visible()) Render();
}

bool Win32PreviewWindow::CloseKey(const MSG& message) {
    if (message.hwnd != window_ && !::IsChild(window_, message.hwnd)) return false;
    if (message.message == WM_KEYDOWN &&
        (message.wParam == VK_ESCAPE || (message.wParam == 'W' && ::GetKeyState(VK_CONTROL) < 0))) {
        ::SendMessageW(window_, WM_CLOSE, 0, 0);
        return true;
    }
    return false;
}

bool Win32PreviewWindow::DialogKey(MSG& message) {
    return ::IsDialogMessageW(window_, &message) != FALSE;
}

// Beside the main window, on the side where the monitor has more room, made
// narrower to fit there when it must (down to its smallest size); where
// neither side has that much room, it stays where the system put it.
void Win32PreviewWindow::PlaceBesideOwner() {
    placed_ = true;
    RECT beside{}, own{};
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!::GetWindowRect(owner_, &beside) || !::GetWindowRect(window_, &own) ||
        !::GetMonitorInfoW(::MonitorFromWindow(owner_, MONITOR_DEFAULTTONEAREST), &monitor)) {
        return;
    }
    const RECT room = monitor.rcWork;
    const int gap = Scaled(8);
    const int right = static_cast<int>(room.right - (beside.right + gap));
    const int left = static_cast<int>(beside.left - gap - room.left);
    const int wide = std::min(static_cast<int>(own.right - own.left), std::max(right, left));
    if (wide < Scaled(kMinWidth)) return;
    const int high =
        std::clamp(static_cast<int>(own.bottom - own.top), Scaled(kMinHeight),
                   std::max(Scaled(kMinHeight), static_cast<int>(room.bottom - room.top)));
    const int top =
        std::clamp(static_cast<int>(beside.top), static_cast<int>(room.top),
                   std::max(static_cast<int>(room.top), static_cast<int>(room.bottom) - high));
    const int x = right >= left ? beside.right + gap : beside.left - gap - wide;
    ::SetWindowPos(window_, nullptr, x, top, wide, high, SWP_NOZORDER | SWP_NOACTIVATE);
}

RECT Win32PreviewWindow::PageRect() const {
    RECT client{};
    ::GetClientRect(window_, &client);
    const double margin = Scaled(kMargin);
    const SheetBox page = FitSheet(
        {margin, margin, client.right - 2 * margin, client.bottom - margin - Scaled(kButtonRow)});
    return {static_cast<LONG>(page.left + 0.5), static_cast<LONG>(page.top + 0.5),
            static_cast<LONG>(page.left + page.width + 0.5),
            static_cast<LONG>(page.top + page.height + 0.5)};
}

void Win32PreviewWindow::Layout() {
    RECT client{};
    ::GetClientRect(window_, &client);
    const int margin = Scaled(kMargin), high = Scaled(26), print = Scaled(80), pdf = Scaled(100),
              gap = Scaled(6);
    const int top = client.bottom - Scaled(kButtonRow) + (Scaled(kButtonRow) - high) / 2;
    const int pdfLeft = client.right - margin - pdf;
    const int printLeft = pdfLeft - gap - print;
    ::MoveWindow(::GetDlgItem(window_, previewSavePdf), pdfLeft, top, pdf, high, TRUE);
    ::MoveWindow(::GetDlgItem(window_, previewPrint), printLeft, top, print, high, TRUE);
    ::MoveWindow(::GetDlgItem(window_, previewStatus), margin, top - Scaled(6),
                 std::max(0, printLeft - gap - margin), Scaled(38), TRUE);
}

void Win32PreviewWindow::Render() {
    // At the monitor's own density: a pixel of the picture for each of the page's.
    const RECT page = PageRect();
    render_.Start(DotsPerInchFor(page.bottom - page.top), [this](RenderedPage* rendered) {
        picture_ = rendered ? std::make_unique<DeviceBitmap>(rendered->page) : nullptr;
        if (rendered) shown_ = std::move(rendered->page);
        ++rendersDone_;
        ShowStatus();
        ::InvalidateRect(window_, nullptr, FALSE);
    });
    ShowStatus();
}

std::string Win32PreviewWindow::StatusText() const {
    wchar_t text[1024] = {};
    ::GetDlgItemTextW(window_, previewStatus, text, 1024);
    return windows::Narrow(text);
}

void Win32PreviewWindow::ShowStatus() {
    ::SetDlgItemTextW(window_, previewStatus, Wide(render_.Status()).c_str());
}

void Win32PreviewWindow::Paint() {
    PAINTSTRUCT paint{};
    const HDC dc = ::BeginPaint(window_, &paint);
    RECT client{};
    ::GetClientRect(window_, &client);
    // The page on a grey ground; the buttons and the status on the window's own.
    RECT ground = client, row = client;
    ground.bottom = row.top = std::max(0, static_cast<int>(client.bottom) - Scaled(kButtonRow));
    ::FillRect(dc, &ground, ::GetSysColorBrush(COLOR_BTNSHADOW));
    ::FillRect(dc, &row, ::GetSysColorBrush(COLOR_BTNFACE));
    const RECT page = PageRect();
    RECT shadow = page;
    ::OffsetRect(&shadow, 3, 3);
    ::FillRect(dc, &shadow, ::GetSysColorBrush(COLOR_3DDKSHADOW));
    ::FillRect(dc, &page, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    if (picture_) {
        picture_->Draw(dc, page);
    } else if (!render_.message().empty()) {
        RECT text = page;
        ::InflateRect(&text, -Scaled(16), -Scaled(16));
        const Selection selected(dc, font_.get());
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
        const std::wstring wide = Wide(render_.message());
        RECT measured = text;
        ::DrawTextW(dc, wide.c_str(), -1, &measured, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        ::OffsetRect(
            &text, 0,
            std::max(0L, ((text.bottom - text.top) - (measured.bottom - measured.top)) / 2));
        ::DrawTextW(dc, wide.c_str(), -1, &text, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
    }
    RECT edge = page;
    ::InflateRect(&edge, 1, 1);
    ::FrameRect(dc, &edge, ::GetSysColorBrush(COLOR_3DDKSHADOW));
    ::EndPaint(window_, &paint);
}

LRESULT CALLBACK Win32PreviewWindow::Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* preview = WindowObject<Win32PreviewWindow>(window, message, l);
    if (preview == nullptr || preview->window_ == nullptr) {
        return ::DefWindowProcW(window, message, w, l);
    }
    return preview->OnMessage(message, w, l);
}

LRESULT Win32PreviewWindow::OnMessage(UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(w) == BN_CLICKED && LOWORD(w) == previewPrint) print_();
            if (HIWORD(w) == BN_CLICKED && LOWORD(w) == previewSavePdf) savePdf_();
            return 0;
        case WM_PAINT:
            Paint();
            return 0;
        case WM_ERASEBKGND:
            return TRUE;
        case WM_SIZE:
            Layout();
            ::InvalidateRect(window_, nullptr, FALSE);
            if (visible()) ::SetTimer(window_, kResizedTimer, 150, nullptr);
            return 0;
        case WM_TIMER:
            if (w == kResizedTimer) {
                ::KillTimer(window_, kResizedTimer);
                Render();
            }
            return 0;
        case WM_GETMINMAXINFO: {
            auto* limits = reinterpret_cast<MINMAXINFO*>(l);
            limits->ptMinTrackSize = {Scaled(kMinWidth), Scaled(kMinHeight)};
            return 0;
        }
        case WM_DPICHANGED:
            ApplyDpi(HIWORD(w), reinterpret_cast<const RECT*>(l));
            return 0;
        case WM_CLOSE:
            // Closed, it only hides: the next Preview shows it where it was.
            render_.CancelAll();
            ::ShowWindow(window_, SW_HIDE);
            if (::IsWindowEnabled(owner_)) ::SetForegroundWindow(owner_);
            return 0;
        default:
            return ::DefWindowProcW(window_, message, w, l);
    }
}

}  // namespace a5merge
