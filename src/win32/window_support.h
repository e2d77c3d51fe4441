#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "ghostscript/raster.h"

namespace a5merge {

// Registers the window class `name` of this program (again: nothing happens).
// `background` is a system colour (COLOR_...), or -1 for none.
void RegisterWindowClass(const wchar_t* name, WNDPROC procedure, int background,
                         HICON icon = nullptr, UINT style = 0);

// The object a window was made for (CreateWindowExW's last argument), kept
// with the window from WM_NCCREATE on; nothing before, or once it is
// cleared (SetWindowLongPtrW(window, GWLP_USERDATA, 0)).
template <class Object>
Object* WindowObject(HWND window, UINT message, LPARAM l) {
    if (message == WM_NCCREATE) {
        ::SetWindowLongPtrW(
            window, GWLP_USERDATA,
            reinterpret_cast<LONG_PTR>(reinterpret_cast<const CREATESTRUCTW*>(l)->lpCreateParams));
    }
    return reinterpret_cast<Object*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

// Functions handed to the window's thread: Post queues one (from any thread)
// and wakes `window` with `message`; the window then calls RunPosted. What
// is still queued when this goes never runs.
class WindowQueue {
public:
    explicit WindowQueue(UINT message) : message_(message) {}
    void SetWindow(HWND window) { window_ = window; }
    void Post(std::function<void()> work);
    void RunPosted();

private:
    UINT message_;
    HWND window_ = nullptr;
    std::mutex mutex_;
    std::deque<std::function<void()>> queue_;
};

// Tahoma at `points` for `dpi` (bold: weight 700), of the ANSI character set.
HFONT TahomaFont(double points, bool bold, int dpi);

// The DPI `window` is shown at: its monitor's, where the system tells each
// window its own (Windows 10 1607 on), else the screen's.
int DpiOf(HWND window);

// Puts `window` where `place` (screen) says, as WM_DPICHANGED suggests it.
void TakeRect(HWND window, const RECT& place);

// A font held and deleted when replaced or gone.
class FontHolder {
public:
    FontHolder() = default;
    explicit FontHolder(HFONT font) : font_(font) {}
    ~FontHolder() { Reset(nullptr); }
    FontHolder(const FontHolder&) = delete;
    FontHolder& operator=(const FontHolder&) = delete;
    void Reset(HFONT font) {
        if (font_ != nullptr) ::DeleteObject(font_);
        font_ = font;
    }
    HFONT get() const { return font_; }

private:
    HFONT font_ = nullptr;
};

// A window's device context (the screen's for nullptr), released when it
// goes.
class WindowDC {
public:
    explicit WindowDC(HWND window) : window_(window), dc_(::GetDC(window)) {}
    ~WindowDC() {
        if (dc_ != nullptr) ::ReleaseDC(window_, dc_);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// An object selected into a device context until this goes: then what was
// there before is again.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), before_(::SelectObject(dc, object)) {}
    ~Selection() {
        if (before_ != nullptr && before_ != HGDI_ERROR) ::SelectObject(dc_, before_);
    }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC dc_;
    HGDIOBJ before_;
};

// A rendered page as GDI draws it: 24-bit rows, blue green red, top down.
struct DeviceBitmap {
    BITMAPINFO info{};
    std::vector<unsigned char> bits;

    explicit DeviceBitmap(const Raster& raster);
    int width() const { return info.bmiHeader.biWidth; }
    int height() const { return -info.bmiHeader.biHeight; }
    // Draws it into `target` (stretched, smoothed); false when GDI fails.
    bool Draw(HDC dc, const RECT& target) const;
};

}  // namespace a5merge
