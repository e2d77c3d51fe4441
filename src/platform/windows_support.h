#pragma once

// For the Windows files of this folder only: text between UTF-8 and the wide
// API, the system's reasons, and handles closed when dropped.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/placement.h"
#include "platform/runtime_error.h"

namespace a5merge::windows {

// UTF-8 as UTF-16 for the wide API (bytes that are not UTF-8 become U+FFFD).
std::wstring Wide(std::string_view utf8);
// UTF-16 as UTF-8 (a lone surrogate becomes U+FFFD).
std::string Narrow(std::wstring_view wide);

// `path` as the wide file API takes it: as it is while it is short, and,
// once it is too long for the old limit (MAX_PATH, less the room the system
// keeps for a folder's 8.3 names), made full and given the prefix that lifts
// the limit ("\\?\C:\..." or "\\?\UNC\server\share\..."), which works
// whether or not long paths are enabled on the machine.
std::wstring SystemPath(std::string_view path);

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

// A search of a folder (FindFirstFileExW), closed when it goes.
class FindHandle {
public:
    explicit FindHandle(HANDLE found) : found_(found) {}
    ~FindHandle() {
        if (valid()) ::FindClose(found_);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    HANDLE get() const { return found_; }
    bool valid() const { return found_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE found_;
};

// A command line that CommandLineToArgvW and the C run-time read back as
// `argv`.
std::wstring CommandLine(const std::vector<std::string>& argv);

// Whether the last part of `path` is a name Windows keeps for a device
// (CON, PRN, AUX, NUL, COM0 to COM9, COM¹ to COM³, LPT0 to LPT9, LPT¹ to
// LPT³, CONIN$, CONOUT$), in any case, also followed by an extension,
// spaces, dots or a stream (":x"): the name, upper-cased, or empty.
std::string DeviceName(std::string_view path);

// Whether `path` is a name of a file as the system's file namespace has it:
// a drive-letter path ("C:\...") or a UNC path ("\\server\share\..."),
// also with the long-path prefix ("\\?\C:\...", "\\?\UNC\..."); not a
// device ("\\.\...", "\\?\GLOBALROOT\...", a volume's GUID name), nor a
// relative name.
bool IsFileNamespacePath(std::string_view path);

// Whether `path` reaches the system's devices rather than a file: the
// device namespace ("\\.\...", "\\?\" followed by anything but a drive or
// UNC), the NT namespace ("\\??\..."), or a device name (DeviceName).
bool IsDevicePath(std::string_view path);

// Whether `path` is on another machine: a UNC path, or one on a drive that
// the system maps to a network share; reaching it may take as long as the
// network does.
bool IsOnTheNetwork(std::string_view path);

// The identity of what `path` names itself (a link, not what it points to):
// the volume's serial number and the file's index there; nothing when it
// names nothing that can be opened.
std::optional<FileIdentity> IdOf(const std::string& path);
std::optional<FileIdentity> IdOf(HANDLE handle);

// The SID of the user of `token` (a process's), as text ("S-1-5-21-...").
std::optional<std::wstring> UserSid(HANDLE token);

// Whether `code` says that another program holds the file for now, as
// virus scanners, the search indexer and sync clients do for a moment with
// each new file: sharing and lock violations, a file whose deletion is
// pending, one the replace could not take away.
bool HeldByAnother(DWORD code);
// Runs `step` (a call that says whether it succeeded and leaves its reason
// in GetLastError) again while it fails because another program holds a
// file for a moment: with pauses that grow, for about a second in all. Its
// last answer; GetLastError holds the last reason.
bool RetryWhileHeld(const std::function<bool()>& step);
// The pauses RetryWhileHeld makes, in milliseconds, in order.
const std::vector<DWORD>& RetryPauses();

// Removes the file or folder `path` and, for a folder, all it holds, down
// to `depth` levels, never through a link: a junction, a symbolic link or
// any other reparse point is removed itself, never what it points to. Waits
// out another program's brief hold; false when something is left.
bool RemoveTree(const std::string& path, int depth = 8);
// The same for the folder `path` open as `held` (with DELETE access, and
// room for no one else to delete it): emptied, then deleted through that
// handle, so that no one else's clean-up works on it meanwhile. The folder
// goes once `held` is closed.
bool RemoveHeldFolder(const std::string& path, HANDLE held, int depth = 8);

// The calls through which the system's rarest answers reach the program:
// the tests stand in for them where wine never gives those answers.
struct SystemCalls {
    BOOL(WINAPI* replaceFile)(LPCWSTR, LPCWSTR, LPCWSTR, DWORD, LPVOID, LPVOID) = ::ReplaceFileW;
    HANDLE(WINAPI* createMutex)(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD, DWORD) = ::CreateMutexExW;
    DWORD(WINAPI* getTempPath)(DWORD, LPWSTR) = ::GetTempPathW;
    BOOL(WINAPI* assignProcessToJob)(HANDLE, HANDLE) = ::AssignProcessToJobObject;
};
SystemCalls& Calls();

}  // namespace a5merge::windows
