// What must not outlive the process, on Windows.

#include "platform/cleanup_windows.h"

#include <windows.h>

#include <filesystem>
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

BOOL WINAPI OnConsoleEnd(DWORD) {
    CleanUpBeforeExit();
    return FALSE;  // and the system's own handler ends the program
}

}  // namespace

namespace windows {

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
    std::lock_guard lock(mutex);
    for (const auto& [id, entry] : entries) {
        if (entry.held != nullptr && entry.held != INVALID_HANDLE_VALUE) ::CloseHandle(entry.held);
        const std::filesystem::path path(windows::Wide(entry.path));
        std::error_code ignored;
        if (entry.folder) {
            std::filesystem::remove_all(path, ignored);
        } else {
            std::filesystem::remove(path, ignored);
        }
    }
    entries.clear();
}

}  // namespace a5merge
