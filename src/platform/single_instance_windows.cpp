// The single-copy lock on Windows: a named mutex in the session's namespace,
// named after the user (their SID), made with a security descriptor that
// gives it to the user alone, and taken for a running copy only when it is
// the user's own.

#include "platform/single_instance.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <optional>

#include "platform/windows_support.h"

namespace a5merge {

using windows::Handle;

namespace {

// The SID of the user this process runs as.
std::optional<std::wstring> UserSid() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return std::nullopt;
    const Handle held(token);
    return windows::UserSid(token);
}

// The mutex's name for `lockPath`: in the session's own namespace, with no
// backslash after it (the system takes none there), and the user's SID.
std::wstring MutexName(const std::string& lockPath, const std::wstring& sid) {
    std::string name = lockPath;
    std::replace(name.begin(), name.end(), '\\', '/');
    return L"Local\\" + windows::Wide(name) + L"." + sid;
}

// Whether the object open as `handle` belongs to the user `sid`: its owner.
bool OwnedBy(HANDLE handle, const std::wstring& sid) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(handle, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                          nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    wchar_t* text = nullptr;
    const bool ours = owner != nullptr && ::ConvertSidToStringSidW(owner, &text) && sid == text;
    if (text != nullptr) ::LocalFree(text);
    ::LocalFree(descriptor);
    return ours;
}

}  // namespace

// Named objects of the session's namespace are this user's, in this session.
std::string UserOnlyFolder() { return "a5merge"; }

std::string SingleInstance::DefaultLockPath() { return UserOnlyFolder() + "/a5merge.lock"; }

std::string SingleInstance::LockName() const {
    const std::optional<std::wstring> sid = UserSid();
    return path_.empty() || !sid ? std::string() : windows::Narrow(MutexName(path_, *sid));
}

// The mutex lives while a copy holds a handle to it: the system lets go of
// it when a copy ends, however it ends.
SingleInstance::Outcome SingleInstance::Try() {
    if (path_.empty()) return Outcome::Unavailable;
    const std::optional<std::wstring> sid = UserSid();
    if (!sid) return Outcome::Unavailable;
    const std::wstring name = MutexName(path_, *sid);
    // The user is its owner and alone may use it; a copy of the user's that
    // runs as administrator makes it so too, with a label that lets the
    // user's other copies see it (which one made at High would keep from
    // them).
    const std::wstring owned = L"O:" + *sid + L"D:P(A;;GA;;;" + *sid + L")";
    HANDLE mutex = nullptr;
    DWORD code = ERROR_INVALID_PARAMETER;
    // Without the label where the system will not set it.
    for (const std::wstring& sddl : {owned + L"S:(ML;;NW;;;ME)", owned}) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                    &descriptor, nullptr)) {
            continue;
        }
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
        mutex = windows::Calls().createMutex(&attributes, name.c_str(), 0,
                                             SYNCHRONIZE | READ_CONTROL);
        code = ::GetLastError();
        ::LocalFree(descriptor);
        if (mutex != nullptr || code == ERROR_ACCESS_DENIED) break;
    }
    if (mutex == nullptr && code == ERROR_ACCESS_DENIED) {
        // Made by a copy with other rights (one run as administrator before
        // this program gave its mutex a label), or by another program:
        // looked at, not taken.
        mutex = ::OpenMutexW(SYNCHRONIZE | READ_CONTROL, FALSE, name.c_str());
        if (mutex == nullptr) return Outcome::Unavailable;
        const Handle other(mutex);
        return OwnedBy(mutex, *sid) ? Outcome::AlreadyRunning : Outcome::Unavailable;
    }
    if (mutex == nullptr) return Outcome::Unavailable;
    if (code == ERROR_ALREADY_EXISTS) {
        const Handle other(mutex);
        // Another program's object of that name is no copy of ours: this one
        // runs on its own rather than being locked out.
        return OwnedBy(mutex, *sid) ? Outcome::AlreadyRunning : Outcome::Unavailable;
    }
    handle_ = mutex;
    return Outcome::First;
}

void SingleInstance::Release() {
    if (handle_ != nullptr) ::CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

}  // namespace a5merge
