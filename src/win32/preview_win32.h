#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ghostscript/sheet_output.h"
#include "handlers/background_run.h"
#include "handlers/sheet_preview.h"
#include "win32/window_support.h"

namespace a5merge {

class Ghostscript;

// The sheet as Ghostscript renders it, in a window of its own beside the
// main one: resizable, fitted on a grey ground so that the page's edge
// shows, rendered at the monitor's DPI in the background (the newest render
// wins). Where Ghostscript fails, its text stands in place of the picture.
// "Print..." and "Save as PDF..." ask the main window; Escape and Ctrl+W
// close it. Results come back through `post`.
class Win32PreviewWindow {
public:
    enum Control : int { previewStatus = 201, previewPrint, previewSavePdf };
    static constexpr const wchar_t* kClassName = L"a5merge.Preview";

    Win32PreviewWindow(const Ghostscript& ghostscript, HWND owner, BackgroundRun::Post post,
                       std::function<void()> print, std::function<void()> savePdf);
    ~Win32PreviewWindow();
    Win32PreviewWindow(const Win32PreviewWindow&) = delete;
    Win32PreviewWindow& operator=(const Win32PreviewWindow&) = delete;

    // Shows the window and renders `sources`.
    void Show(const SheetSources& sources);
    // Renders `sources` from now on, at once when the window is shown.
    void SetSources(const SheetSources& sources);
    // Escape and Ctrl+W, which close it, taken.
    bool CloseKey(const MSG& message);
    // The keys of its buttons (Tab, Enter, Space), taken.
    bool DialogKey(MSG& message);

    HWND window() const { return window_; }
    bool visible() const { return ::IsWindowVisible(window_) != FALSE; }
    // What it shows now: the picture's pixels, or the text in its place.
    const Raster* picture() const { return picture_ ? &shown_ : nullptr; }
    const std::string& message() const { return render_.message(); }
    std::string StatusText() const;
    bool rendering() const { return render_.rendering(); }
    // Where the page is drawn, in client pixels.
    RECT PageRect() const;
    int dpi() const { return dpi_; }
    // How many renders have ended (a picture or a message).
    int rendersDone() const { return rendersDone_; }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l);
    LRESULT OnMessage(UINT message, WPARAM w, LPARAM l);
    void Render();
    void PlaceBesideOwner();
    void Layout();
    void ApplyDpi(int dpi, const RECT* suggested);
    void Paint();
    void ShowStatus();
    int Scaled(int pixels) const { return ::MulDiv(pixels, dpi_, 96); }

    HWND owner_;
    FontHolder font_;
    std::function<void()> print_, savePdf_;
    HWND window_ = nullptr;
    int dpi_ = 96;
    bool placed_ = false;
    std::unique_ptr<DeviceBitmap> picture_;
    Raster shown_;
    int rendersDone_ = 0;
    SheetRender render_;  // last: its work ends before the rest goes
};

}  // namespace a5merge
