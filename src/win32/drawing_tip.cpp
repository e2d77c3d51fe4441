#include "win32/drawing_tip.h"

#include <algorithm>

#include "ghostscript/ghostscript.h"
#include "platform/windows_support.h"

namespace a5merge {

using windows::Wide;

namespace {

constexpr int kPadding = 6;
constexpr int kTextWidth = 320;  // lines wrap there

// The render's resolution: kWidth pixels at 96 DPI across the sheet.
double RenderDpi(int dpi) { return DrawingTip::kWidth * dpi / 96.0 * 72.0 / kSheetWidth; }

}  // namespace

DrawingTip::DrawingTip(const Ghostscript& ghostscript, HFONT font, HFONT bold, int dpi,
                       BackgroundRun::Post post)
    : ghostscript_(ghostscript),
      font_(font),
      bold_(bold),
      dpi_(dpi),
      renders_(ghostscript, RenderDpi(dpi), std::move(post), [this](const std::string& path) {
          if (visible() && path == path_) Compose();
      }) {
    RegisterWindowClass(kClassName, Procedure, COLOR_INFOBK, nullptr, CS_DROPSHADOW);
    window_ = ::CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE, kClassName,
                                L"", WS_POPUP | WS_BORDER, 0, 0, 10, 10, nullptr, nullptr,
                                ::GetModuleHandleW(nullptr), this);
}

DrawingTip::~DrawingTip() {
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    ::DestroyWindow(window_);
}

void DrawingTip::Show(const std::string& zone, const std::string& path, POINT at,
                      const std::string& refusal) {
    zone_ = zone;
    path_ = path;
    refusal_ = refusal;
    at_ = at;
    Compose();
}

void DrawingTip::Hide() { ::ShowWindow(window_, SW_HIDE); }

void DrawingTip::SetDpi(int dpi, HFONT font, HFONT bold) {
    dpi_ = dpi;
    font_ = font;
    bold_ = bold;
    renders_.SetDotsPerInch(RenderDpi(dpi));
    if (visible()) Compose();
}

SIZE DrawingTip::pictureSize() const {
    return picture_ ? SIZE{picture_->width(), picture_->height()} : SIZE{0, 0};
}

// What the zone holds, as the tip says it; then its size and place.
void DrawingTip::Compose() {
    std::string detail;
    picture_.reset();
    if (path_.empty()) {
        heading_ = zone_ + ": drop, paste or click to choose a PostScript file";
    } else {
        heading_ = zone_ + ": " + path_;
        if (!ghostscript_.Found()) {
            detail = std::string("(") + kGhostscriptMissing + ")";
        } else if (const RenderedPage* drawn = renders_.For(path_)) {
            if (drawn->ok) {
                picture_ = std::make_unique<DeviceBitmap>(drawn->page);
            } else {
                detail = drawn->failure;
            }
        } else if (StampOf(path_)) {
            detail = "(drawing...)";
        }
    }
    if (!refusal_.empty()) detail += (detail.empty() ? "" : "\n") + ("Refused " + refusal_);
    text_ = heading_ + "\n" + (detail.empty() ? "" : detail + "\n") + kMenuHint;

    // Measured: the heading, the picture, the rest of the text.
    RECT head{}, rest{};
    {
        const WindowDC dc(window_);
        const auto measure = [&](const std::string& text, HFONT font) {
            RECT box{0, 0, Scaled(kTextWidth), 0};
            const Selection selected(dc.get(), font);
            ::DrawTextW(dc.get(), Wide(text).c_str(), -1, &box,
                        DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
            return box;
        };
        head = measure(heading_, bold_);
        rest = measure(text_.substr(heading_.size() + 1), font_);
    }
    const SIZE picture = pictureSize();
    const int width = std::max({head.right, rest.right, picture.cx}) + 2 * Scaled(kPadding) + 2;
    const int height = head.bottom + picture.cy + rest.bottom + 2 * Scaled(kPadding) + 2 +
                       (picture.cy > 0 ? Scaled(kPadding) : 0);

    // Below the pointer, kept on its monitor.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromPoint(at_, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT room = monitor.rcWork;
    int x = std::clamp(static_cast<int>(at_.x), static_cast<int>(room.left),
                       std::max(static_cast<int>(room.left), static_cast<int>(room.right) - width));
    int y = at_.y + Scaled(20);
    if (y + height > room.bottom)
        y = std::max(static_cast<int>(room.top), static_cast<int>(at_.y) - Scaled(4) - height);
    ::SetWindowPos(window_, HWND_TOPMOST, x, y, width, height, SWP_NOACTIVATE | SWP_SHOWWINDOW);
    ::InvalidateRect(window_, nullptr, TRUE);
}

void DrawingTip::Paint() {
    PAINTSTRUCT paint{};
    const HDC dc = ::BeginPaint(window_, &paint);
    RECT client{};
    ::GetClientRect(window_, &client);
    ::InflateRect(&client, -Scaled(kPadding), -Scaled(kPadding));
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(COLOR_INFOTEXT));
    const auto draw = [&](const std::string& text, HFONT font) {
        RECT box = client;
        const Selection selected(dc, font);
        const std::wstring wide = Wide(text);
        client.top +=
            ::DrawTextW(dc, wide.c_str(), -1, &box, DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
    };
    draw(heading_, bold_);
    if (picture_) {
        client.top += Scaled(kPadding) / 2;
        const RECT at{client.left, client.top, client.left + picture_->width(),
                      client.top + picture_->height()};
        picture_->Draw(dc, at);
        client.top = at.bottom + Scaled(kPadding) / 2;
    }
    draw(text_.substr(heading_.size() + 1), font_);
    ::EndPaint(window_, &paint);
}

LRESULT CALLBACK DrawingTip::Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* tip = WindowObject<DrawingTip>(window, message, l);
    if (tip != nullptr && tip->window_ != nullptr) {
        if (message == WM_PAINT) {
            tip->Paint();
            return 0;
        }
    }
    // The pointer passes through it to the zone below, which hides it once
    // the pointer leaves.
    if (message == WM_NCHITTEST) return HTTRANSPARENT;
    return ::DefWindowProcW(window, message, w, l);
}

}  // namespace a5merge
