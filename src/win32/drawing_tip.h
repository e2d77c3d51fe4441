#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "handlers/sheet_preview.h"
#include "win32/window_support.h"

namespace a5merge {

class Ghostscript;

// The tooltip of the zones: a small window that shows, while the pointer
// rests on a zone, what the zone holds (its file's name and a small render
// of the drawing once made) and the context menu's hint.
class DrawingTip {
public:
    // Width of the render, in pixels at 96 DPI.
    static constexpr int kWidth = 180;
    static constexpr const wchar_t* kClassName = L"a5merge.DrawingTip";

    DrawingTip(const Ghostscript& ghostscript, HFONT font, HFONT bold, int dpi,
               BackgroundRun::Post post);
    ~DrawingTip();
    DrawingTip(const DrawingTip&) = delete;
    DrawingTip& operator=(const DrawingTip&) = delete;

    // Shows the tip of `zone` ("TOP"), holding `path` (empty: no file), below
    // the point `at` of the screen; `refusal`: why the last file given to
    // the zone was refused.
    void Show(const std::string& zone, const std::string& path, POINT at,
              const std::string& refusal = {});
    void Hide();
    // The main window's DPI and fonts changed: the tip follows (and its
    // pictures are made again at the new size).
    void SetDpi(int dpi, HFONT font, HFONT bold);

    HWND window() const { return window_; }
    bool visible() const { return ::IsWindowVisible(window_) != FALSE; }
    int dpi() const { return dpi_; }
    // What it says now, line by line, and its picture's size (0 without).
    const std::string& text() const { return text_; }
    SIZE pictureSize() const;
    int renders() const { return renders_.renders(); }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l);
    void Compose();
    void Paint();
    int Scaled(int pixels) const { return ::MulDiv(pixels, dpi_, 96); }

    const Ghostscript& ghostscript_;
    HFONT font_, bold_;
    int dpi_;
    HWND window_ = nullptr;
    std::string zone_, path_, refusal_;
    POINT at_{};
    std::string heading_, text_;
    std::unique_ptr<DeviceBitmap> picture_;
    DrawingRenders renders_;  // last: its work ends before the rest goes
};

}  // namespace a5merge
