// The single-copy lock on Windows: a named mutex in the session's namespace.

#include "platform/single_instance.h"

#include <windows.h>

#include <algorithm>

#include "platform/windows_support.h"

namespace a5merge {

namespace {

// The mutex's name for `lockPath`: in the session's own namespace, with no
// backslash after it (the system takes none there).
std::wstring MutexName(const std::string& lockPath) {
    std::string name = lockPath;
    std::replace(name.begin(), name.end(), '\\', '/');
    return L"Local\\" + windows::Wide(name);
}

}  // namespace

// Named objects of the session's namespace are this user's, in this session.
std::string UserOnlyFolder() { return "a5merge"; }

std::string SingleInstance::DefaultLockPath() { return UserOnlyFolder() + "/a5merge.lock"; }

// The mutex lives while a copy holds a handle to it: the system lets go of
// it when a copy ends, however it ends.
SingleInstance::Outcome SingleInstance::Try() {
    if (path_.empty()) return Outcome::Unavailable;
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, MutexName(path_).c_str());
    if (mutex == nullptr) return Outcome::Unavailable;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(mutex);
        return Outcome::AlreadyRunning;
    }
    handle_ = mutex;
    return Outcome::First;
}

void SingleInstance::Release() {
    if (handle_ != nullptr) ::CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

}  // namespace a5merge
