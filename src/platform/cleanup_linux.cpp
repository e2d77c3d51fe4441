// What must not outlive the process: fixed slots, read by signal handlers.

#include "platform/cleanup_linux.h"
#include "platform/exit_cleanup.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace a5merge::exit_cleanup {

namespace {

enum Kind { kFile, kFolder, kChild };
enum State { kFree, kFilling, kLive };

struct Entry {
    std::atomic<int> state{kFree};
    int kind = kFile;
    int dirFd = -1;
    int ownFd = -1;
    pid_t pid = -1;
    char name[256] = {};
};
std::array<Entry, 64> entries;

void OnSignal(int sig) {
    RunAll();
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

void InstallHandlers() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction now {};
            // A signal ignored at start (a job in the background) stays so.
            if (::sigaction(sig, nullptr, &now) == 0 && now.sa_handler == SIG_DFL) {
                struct sigaction cleanup {};
                cleanup.sa_handler = OnSignal;
                sigemptyset(&cleanup.sa_mask);
                ::sigaction(sig, &cleanup, nullptr);
            }
        }
    });
}

Slot Add(int kind, int dirFd, const char* name, int ownFd, pid_t pid) {
    InstallHandlers();
    if (name != nullptr && std::strlen(name) >= sizeof entries[0].name) return -1;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        Entry& entry = entries[i];
        int expected = kFree;
        if (!entry.state.compare_exchange_strong(expected, kFilling)) continue;
        entry.kind = kind;
        entry.dirFd = dirFd;
        entry.ownFd = ownFd;
        entry.pid = pid;
        std::snprintf(entry.name, sizeof entry.name, "%s", name != nullptr ? name : "");
        entry.state.store(kLive);
        return static_cast<Slot>(i);
    }
    return -1;
}

}  // namespace

Slot AddFile(int dirFd, const char* name) { return Add(kFile, dirFd, name, -1, -1); }

Slot AddFolder(int parentFd, const char* name, int ownFd) {
    return Add(kFolder, parentFd, name, ownFd, -1);
}

Slot AddChild(pid_t pid) { return Add(kChild, -1, nullptr, -1, pid); }

void SetFolderFd(Slot slot, int ownFd) {
    if (slot >= 0 && static_cast<std::size_t>(slot) < entries.size()) {
        entries[static_cast<std::size_t>(slot)].ownFd = ownFd;
    }
}

void Remove(Slot& slot) {
    if (slot >= 0 && static_cast<std::size_t>(slot) < entries.size()) {
        entries[static_cast<std::size_t>(slot)].state.store(kFree);
    }
    slot = -1;
}

void EmptyFolder(int fd, int depth) {
    // The kernel's records, laid out as glibc's dirent64 (d_name as long as
    // each record's d_reclen says).
    alignas(dirent64) char buf[4096];
    // Entries removed while the folder is read may be passed over: read it
    // again until a pass finds nothing it can remove.
    for (bool removed = true; removed;) {
        removed = false;
        if (::lseek(fd, 0, SEEK_SET) != 0) return;
        for (;;) {
            const long n = ::syscall(SYS_getdents64, fd, buf, sizeof buf);
            if (n <= 0) break;
            for (long at = 0; at < n;) {
                const auto* entry = reinterpret_cast<const dirent64*>(buf + at);
                at += entry->d_reclen;
                const char* name = entry->d_name;
                if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
                if (::unlinkat(fd, name, 0) == 0) {
                    removed = true;
                    continue;
                }
                if (errno != EISDIR || depth <= 0) continue;
                const int inner =
                    ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (inner < 0) continue;
                EmptyFolder(inner, depth - 1);
                ::close(inner);
                if (::unlinkat(fd, name, AT_REMOVEDIR) == 0) removed = true;
            }
        }
    }
}

void RunAll() {
    const int saved = errno;
    for (Entry& entry : entries) {
        if (entry.state.load() == kLive && entry.kind == kChild) {
            ::kill(-entry.pid, SIGKILL);
            ::kill(entry.pid, SIGKILL);
        }
    }
    for (Entry& entry : entries) {
        if (entry.state.load() != kLive) continue;
        if (entry.kind == kFile) {
            ::unlinkat(entry.dirFd, entry.name, 0);
        } else if (entry.kind == kFolder) {
            int fd = entry.ownFd;
            if (fd < 0) {
                fd = ::openat(entry.dirFd, entry.name,
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            }
            if (fd >= 0) EmptyFolder(fd);
            if (fd >= 0 && fd != entry.ownFd) ::close(fd);
            ::unlinkat(entry.dirFd, entry.name, AT_REMOVEDIR);
        }
    }
    errno = saved;
}

}  // namespace a5merge::exit_cleanup

namespace a5merge {

void CleanUpBeforeExit() { exit_cleanup::RunAll(); }

}  // namespace a5merge
