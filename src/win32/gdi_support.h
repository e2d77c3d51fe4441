#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "ghostscript/raster.h"

namespace a5merge {

// Functions handed to the window's thread: Post queues one (from any thread)
// and wakes `window` with `message`; the window then calls RunPosted. What
// is still queued when this goes never runs.
class WindowQueue {
public:
    WindowQueue(UINT message) : message_(message) {}
    void SetWindow(HWND window) { window_ = window; }
    void Post(std::function<void()> work);
    void RunPosted();

private:
    UINT message_;
    HWND window_ = nullptr;
    std::mutex mutex_;
    std::deque<std::function<void()>> queue_;
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

// A font, a bitmap, a brush..., deleted when dropped.
template <class Object>
class GdiObject {
public:
    explicit GdiObject(Object object = nullptr) : object_(object) {}
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    ~GdiObject() {
        if (object_ != nullptr) ::DeleteObject(object_);
    }
    Object get() const { return object_; }

private:
    Object object_;
};

}  // namespace a5merge
