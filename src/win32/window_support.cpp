#include "win32/window_support.h"

namespace a5merge {

void RegisterWindowClass(const wchar_t* name, WNDPROC procedure, int background, HICON icon,
                         UINT style) {
    WNDCLASSEXW kind{};
    kind.cbSize = sizeof kind;
    kind.style = style;
    kind.lpfnWndProc = procedure;
    kind.hInstance = ::GetModuleHandleW(nullptr);
    kind.hIcon = icon;
    kind.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    kind.hbrBackground = background >= 0 ? ::GetSysColorBrush(background) : nullptr;
    kind.lpszClassName = name;
    ::RegisterClassExW(&kind);
}

void WindowQueue::Post(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(work));
    }
    ::PostMessageW(window_, message_, 0, 0);
}

void WindowQueue::RunPosted() {
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) return;
            work = std::move(queue_.front());
            queue_.pop_front();
        }
        work();
    }
}

DeviceBitmap::DeviceBitmap(const Raster& raster) {
    BITMAPINFOHEADER& header = info.bmiHeader;
    header.biSize = sizeof header;
    header.biWidth = raster.width;
    header.biHeight = -raster.height;  // top down
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const std::size_t stride = (static_cast<std::size_t>(raster.width) * 3 + 3) & ~std::size_t{3};
    bits.assign(stride * static_cast<std::size_t>(raster.height), 0);
    for (int y = 0; y < raster.height; ++y) {
        unsigned char* row = bits.data() + stride * static_cast<std::size_t>(y);
        for (int x = 0; x < raster.width; ++x) {
            const bool grey = raster.channels == 1;
            row[3 * x + 0] = raster.At(x, y, grey ? 0 : 2);
            row[3 * x + 1] = raster.At(x, y, grey ? 0 : 1);
            row[3 * x + 2] = raster.At(x, y, 0);
        }
    }
}

bool DeviceBitmap::Draw(HDC dc, const RECT& target) const {
    const int before = ::SetStretchBltMode(dc, HALFTONE);
    ::SetBrushOrgEx(dc, 0, 0, nullptr);
    const int lines = ::StretchDIBits(dc, target.left, target.top, target.right - target.left,
                                      target.bottom - target.top, 0, 0, width(), height(),
                                      bits.data(), &info, DIB_RGB_COLORS, SRCCOPY);
    ::SetStretchBltMode(dc, before);
    return lines != 0 && lines != static_cast<int>(GDI_ERROR);
}

HFONT TahomaFont(double points, bool bold, int dpi) {
    return ::CreateFontW(-::MulDiv(static_cast<int>(points * 100 + 0.5), dpi, 7200), 0, 0, 0,
                         bold ? 700 : 400, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                         CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma");
}

void TakeRect(HWND window, const RECT& place) {
    ::SetWindowPos(window, nullptr, place.left, place.top, place.right - place.left,
                   place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

int DpiOf(HWND window) {
    using DpiForWindow = UINT(WINAPI*)(HWND);
    static const auto dpiForWindow = reinterpret_cast<DpiForWindow>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (dpiForWindow != nullptr && window != nullptr) {
        if (const UINT dpi = dpiForWindow(window); dpi > 0) return static_cast<int>(dpi);
    }
    const WindowDC screen(nullptr);
    const int dpi = screen.get() != nullptr ? ::GetDeviceCaps(screen.get(), LOGPIXELSY) : 96;
    return dpi > 0 ? dpi : 96;
}

}  // namespace a5merge
