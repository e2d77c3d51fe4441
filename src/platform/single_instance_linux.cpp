// The single-copy lock on Linux: flock on a file in a folder of the user's own.

#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/file_system.h"

namespace a5merge {

namespace {

// Whether `folder` is a folder (not a link) of this user that no one else
// may enter or change.
bool OnlyMine(const std::string& folder) {
    struct stat st {};
    return !folder.empty() && folder.front() == '/' && ::lstat(folder.c_str(), &st) == 0 &&
           S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

}  // namespace

std::string UserOnlyFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        runtime != nullptr && OnlyMine(runtime)) {
        return runtime;
    }
    // su, ssh, cron: no runtime folder. One of ours, which another user may
    // have made first: then it is not ours, and there is none.
    const std::string folder =
        TemporaryFolder() + "/a5merge-runtime-" + std::to_string(::geteuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
    struct stat st {};
    if (::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
        (st.st_mode & 077) != 0) {
        ::chmod(folder.c_str(), 0700);
    }
    return OnlyMine(folder) ? folder : std::string();
}

std::string SingleInstance::DefaultLockPath() {
    const std::string folder = UserOnlyFolder();
    return folder.empty() ? folder : folder + "/a5merge.lock";
}

std::string SingleInstance::LockName() const { return path_; }

SingleInstance::Outcome SingleInstance::Try() {
    if (path_.empty()) return Outcome::Unavailable;
    // Close-on-exec: a child (Ghostscript) must not hold the lock after us.
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) return Outcome::Unavailable;
    struct stat st {};
    Outcome outcome = Outcome::Unavailable;
    if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return Outcome::First;
        if (errno == EWOULDBLOCK) outcome = Outcome::AlreadyRunning;
    }
    ::close(fd_);
    fd_ = -1;
    return outcome;
}

void SingleInstance::Release() {
    if (fd_ >= 0) ::close(fd_);  // and with it the lock
    fd_ = -1;
}

}  // namespace a5merge
