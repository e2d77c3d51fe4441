// What must not outlive the process, on Windows.

#include "platform/cleanup_windows.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>

#include "platform/exit_cleanup.h"
#include "platform/windows_support.h"

namespace a5merge {

namespace {

struct Entry {
    std::string path;
    bool folder;
    HANDLE held;
};

std::mutex mutex;
std::map<long, Entry> entries;
long nextId = 0;

}  // namespace

namespace windows {

BOOL WINAPI OnConsoleEnd(DWORD) {
    CleanUpBeforeExit();
    return FALSE;  // and the system's own handler ends the program
}

std::timed_mutex& PlacingLock() {
    static std::timed_mutex lock;
    return lock;
}

CleanupEntry::CleanupEntry(std::string path, bool folder, void* held) {
    static std::once_flag installed;
    std::call_once(installed, [] { ::SetConsoleCtrlHandler(OnConsoleEnd, TRUE); });
    std::lock_guard lock(mutex);
    id_ = nextId++;
    entries[id_] = {std::move(path), folder, held};
}

CleanupEntry& CleanupEntry::operator=(CleanupEntry&& other) noexcept {
    if (this != &other) {
        this->~CleanupEntry();
        id_ = other.id_;
        other.id_ = -1;
    }
    return *this;
}

CleanupEntry::~CleanupEntry() {
    if (id_ < 0) return;
    std::lock_guard lock(mutex);
    entries.erase(id_);
    id_ = -1;
}

}  // namespace windows

void CleanUpBeforeExit() {
    // A new content being put in place is let finish (for a while): cut
    // half-way, it could leave the old one under a name of ours only. No
    // other starts after: the lock is kept, the program ends.
    static std::atomic<bool> waited{false};
    if (!waited.exchange(true)) {
        (void)windows::PlacingLock().try_lock_for(std::chrono::seconds(10));
    }
    std::lock_guard lock(mutex);
    for (const auto& [id, entry] : entries) {
        if (entry.held != nullptr && entry.held != INVALID_HANDLE_VALUE) ::CloseHandle(entry.held);
        windows::RemoveTree(entry.path);
    }
    entries.clear();
}

}  // namespace a5merge
