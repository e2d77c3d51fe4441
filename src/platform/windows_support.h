#pragma once

// For the Windows files of this folder only: text between UTF-8 and the wide
// API, the system's reasons, and handles closed when dropped.

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime_error.h"

namespace a5merge::windows {

// UTF-8 as UTF-16 for the wide API (bytes that are not UTF-8 become U+FFFD).
std::wstring Wide(std::string_view utf8);
// UTF-16 as UTF-8 (a lone surrogate becomes U+FFFD).
std::string Narrow(std::wstring_view wide);

// The system's own reason for `code` (FormatMessageW), one line.
std::string SystemReason(DWORD code);
// The errno value that the decisions shared with Linux know `code` by (what
// is missing, a shortage, a name taken...); EIO when none fits.
int ErrnoOf(DWORD code);
// A failing service: `path`, the system's reason, and ErrnoOf(code).
RuntimeError Error(const std::string& path, DWORD code = ::GetLastError());

// A handle closed when dropped.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE handle) : handle_(handle) {}
    Handle(Handle&& other) noexcept : handle_(other.release()) {}
    Handle& operator=(Handle&& other) noexcept {
        reset(other.release());
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE release() {
        HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle;
    }
    void reset(HANDLE handle = INVALID_HANDLE_VALUE) {
        if (valid()) ::CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// A command line that CommandLineToArgvW and the C run-time read back as
// `argv`.
std::wstring CommandLine(const std::vector<std::string>& argv);

// Whether the last part of `path` is a device name of Windows (CON, PRN,
// AUX, NUL, COM1 to COM9, LPT1 to LPT9), with any extension, in any case;
// the name, upper-cased, or empty.
std::string DeviceName(std::string_view path);

}  // namespace a5merge::windows
