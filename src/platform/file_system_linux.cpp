// File-system queries and input files, on Linux.

#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>

#include "platform/cleanup_linux.h"
#include "platform/placement.h"
#include "platform/runtime_error.h"
#include "platform/spool_file.h"
#include "platform/wildcard.h"

namespace a5merge {

namespace {

bool IsHiddenName(std::string_view name) {
    return !name.empty() && name.front() == '.' && name != "." && name != "..";
}

bool HasNul(const std::string& path) { return path.find('\0') != std::string::npos; }

}  // namespace

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return !HasNul(path) && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

const char* const kHiddenBecause = "its name starts with a dot";

char PlatformSeparator() { return '/'; }

std::string Dir(const std::string& pattern) {
    if (HasNul(pattern)) return {};
    const auto slash = pattern.rfind('/');
    const std::string prefix = slash == std::string::npos ? "" : pattern.substr(0, slash + 1);
    const std::string namePattern =
        slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    if (namePattern.empty()) return {};

    // The exact name first: a folder that may be entered but not listed still
    // answers for a name that holds * or ?.
    if (!IsHiddenName(namePattern) && IsRegularFile(pattern)) return namePattern;
    if (namePattern.find_first_of("*?") == std::string::npos) return {};

    DIR* dir = ::opendir(prefix.empty() ? "." : prefix.c_str());
    if (dir == nullptr) return {};
    std::string found;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name.front() == '.' || !WildcardMatch(namePattern, name)) continue;
        if (IsRegularFile(prefix + std::string(name))) {
            found = name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

int GetAttr(const std::string& path) {
    struct stat st {};
    if (HasNul(path)) throw RuntimeError::FromSystem(path, ENOENT);
    if (::stat(path.c_str(), &st) != 0) throw RuntimeError::FromSystem(path, errno);

    std::string_view name = path;
    while (name.size() > 1 && name.back() == '/') name.remove_suffix(1);
    if (const auto slash = name.rfind('/'); slash != std::string_view::npos) {
        name.remove_prefix(slash + 1);
    }

    int attr = 0;
    if (S_ISDIR(st.st_mode)) attr |= kAttrDirectory;
    if (IsHiddenName(name)) attr |= kAttrHidden;
    if (::access(path.c_str(), W_OK) != 0) attr |= kAttrReadOnly;
    return attr;
}

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path.front() == '/') return path;
    char* cwd = ::getcwd(nullptr, 0);  // fails once the current folder is deleted
    if (cwd == nullptr) throw RuntimeError::FromSystem(path, errno);
    std::string absolute = cwd;
    std::free(cwd);
    if (absolute.back() != '/') absolute += '/';
    return absolute + path;
}

std::optional<FileStamp> StampOf(const std::string& path) {
    struct stat st {};
    if (HasNul(path) || ::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileStamp{static_cast<std::uint64_t>(st.st_size),
                     std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec};
}

bool NamesSomething(const std::string& path) {
    struct stat st {};
    return !HasNul(path) && ::lstat(path.c_str(), &st) == 0;
}

bool OnAnotherMachine(const std::string&) { return false; }

bool IsStandardOutput(const std::string& path) {
    struct stat out {};
    struct stat file {};
    return !HasNul(path) && ::fstat(STDOUT_FILENO, &out) == 0 && ::stat(path.c_str(), &file) == 0 &&
           out.st_dev == file.st_dev && out.st_ino == file.st_ino;
}

std::string TemporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    struct stat st {};
    if (tmp != nullptr && tmp[0] == '/' && ::stat(tmp, &st) == 0 && S_ISDIR(st.st_mode) &&
        ::access(tmp, W_OK | X_OK) == 0) {
        return tmp;
    }
    return "/tmp";
}

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string_view rest = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        if (folder.empty() || folder.front() != '/') continue;  // only absolute folders
        const std::string candidate = std::string(folder) + "/" + name;
        if (IsRegularFile(candidate) && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat st {};
    if (HasNul(path) || ::lstat(path.c_str(), &st) != 0) return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev),
                        static_cast<std::uint64_t>(st.st_ino)};
}

bool RemoveIfIdentity(const std::string& path, const FileIdentity& id) {
    if (IdentityOf(path) != id) return true;
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool MoveToFreeName(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL) return false;
    // No such rename on this file system: a second link, refused as well when
    // the name is taken.
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

namespace {

constexpr std::string_view kPrivatePrefix = "a5merge-";  // then mkdtemp's six characters
constexpr const char* kMarkName = ".a5merge-folder";

bool IsPrivateFolderName(std::string_view name) {
    if (name.size() != kPrivatePrefix.size() + 6 || !name.starts_with(kPrivatePrefix)) return false;
    return std::all_of(name.begin() + kPrivatePrefix.size(), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

// The mark a private folder carries: its own identity, so that no folder of
// another's (nor a copy of ours) passes for it.
std::string MarkText(const struct stat& folder) {
    return "a5merge private folder " + std::to_string(folder.st_dev) + " " +
           std::to_string(folder.st_ino) + "\n";
}

// The first `most` bytes of the regular file `name` in folder `dirFd`, not
// through a link; nothing when it is no such file.
std::optional<std::string> ReadSmallFile(int dirFd, const char* name, std::size_t most) {
    const int fd = ::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    std::string text(most + 1, '\0');
    ssize_t got = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) got = ::read(fd, text.data(), text.size());
    ::close(fd);
    if (got < 0 || static_cast<std::size_t>(got) > most) return std::nullopt;
    text.resize(static_cast<std::size_t>(got));
    return text;
}

// Writes `bytes` as the file `name` in folder `dirFd`, whole: a new file,
// on the disk, then given the name.
void WriteWhole(int dirFd, const std::string& where, const std::string& name,
                std::string_view bytes, bool synced = true) {
    const std::string fresh = name + ".new";
    const int fd =
        ::openat(dirFd, fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) throw RuntimeError::FromSystem(where, errno);
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int why = n < 0 ? errno : EIO;
            ::close(fd);
            throw RuntimeError::FromSystem(where, why);
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    const bool onDisk = !synced || ::fsync(fd) == 0;
    const int why = errno;
    ::close(fd);
    if (!onDisk) throw RuntimeError::FromSystem(where, why);
    if (::renameat(dirFd, fresh.c_str(), dirFd, name.c_str()) != 0) {
        throw RuntimeError::FromSystem(where, errno);
    }
    if (synced) ::fsync(dirFd);
}

// Settles and removes the private folders in `folder` that carry our mark,
// are this user's and that no live process holds (each run locks its own).
void RemoveStalePrivateFolders(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsPrivateFolderName(entry->d_name)) continue;
        const int fd =
            ::openat(dirFd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() &&
            ReadSmallFile(fd, kMarkName, 256) == MarkText(st) &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // Settled first; its record goes before the rest, so that a run
            // killed meanwhile leaves the record only with the mark.
            bool settled = true;
            if (const auto record = ReadSmallFile(fd, kPlacementRecord, 1 << 20)) {
                if (const std::optional<Placement> placement = ParseRecord(*record)) {
                    const Settlement done = Settle(*placement);
                    settled = done.how != Settled::Stranded && !done.leftovers;
                }
                if (settled) ::unlinkat(fd, kPlacementRecord, 0);
            }
            if (settled) {
                exit_cleanup::EmptyFolder(fd);
                ::unlinkat(dirFd, entry->d_name, AT_REMOVEDIR);
            }
        }
        ::close(fd);
    }
    ::closedir(dir);
}

}  // namespace

void SettleLeftovers() {
    static std::once_flag swept;
    std::call_once(swept, [] { RemoveStalePrivateFolders(TemporaryFolder()); });
}

struct PrivateFolder::Held {
    int parentFd = -1;
    int ownFd = -1;
    exit_cleanup::Slot slot = -1;
    ~Held() {
        exit_cleanup::Remove(slot);
        if (ownFd >= 0) ::close(ownFd);
        if (parentFd >= 0) ::close(parentFd);
    }
};

PrivateFolder::PrivateFolder() : held_(std::make_unique<Held>()) {
    const std::string folder = TemporaryFolder();
    SettleLeftovers();
    held_->parentFd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (held_->parentFd < 0) throw RuntimeError::FromSystem(folder, errno);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string pattern = folder + "/" + std::string(kPrivatePrefix) + "XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) throw RuntimeError::FromSystem(folder, errno);
        const std::string name = pattern.substr(folder.size() + 1);
        // Removed on a signal from now on, also before it is open.
        held_->slot = exit_cleanup::AddFolder(held_->parentFd, name.c_str(), -1);
        const int fd = ::openat(held_->parentFd, name.c_str(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        // Held, and still under its name: another process's clean-up may
        // have taken it between the two.
        struct stat mine {
        }, named{};
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &mine) == 0 &&
            ::fstatat(held_->parentFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            mine.st_dev == named.st_dev && mine.st_ino == named.st_ino) {
            held_->ownFd = fd;
            exit_cleanup::SetFolderFd(held_->slot, fd);
            path_ = pattern;
            try {
                WriteWhole(fd, folder, kMarkName, MarkText(mine));
            } catch (...) {
                exit_cleanup::EmptyFolder(fd);
                ::unlinkat(held_->parentFd, name.c_str(), AT_REMOVEDIR);
                throw;
            }
            return;
        }
        exit_cleanup::Remove(held_->slot);
        if (fd >= 0) ::close(fd);
    }
    throw RuntimeError::FromSystem(folder, EEXIST);
}

PrivateFolder::~PrivateFolder() {
    if (held_->ownFd < 0) return;
    exit_cleanup::Remove(held_->slot);
    if (leave_) return;
    exit_cleanup::EmptyFolder(held_->ownFd);
    const std::string name = path_.substr(path_.rfind('/') + 1);
    ::unlinkat(held_->parentFd, name.c_str(), AT_REMOVEDIR);
}

void PrivateFolder::SetFile(const std::string& name, std::string_view bytes, bool synced) const {
    if (bytes.empty()) {
        if (::unlinkat(held_->ownFd, name.c_str(), 0) != 0 && errno != ENOENT) {
            throw RuntimeError::FromSystem(path_, errno);
        }
        return;
    }
    WriteWhole(held_->ownFd, path_, name, bytes, synced);
}

Spool::File::File(const std::string& in) : folder(in) {
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {  // no unnamed files there: a name, gone at once
        std::string name = folder + "/a5merge-spool-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0) ::unlink(name.c_str());
    }
    if (fd < 0) throw RuntimeError::FromSystem(folder, errno);
    system = fd;
}

Spool::File::~File() { ::close(static_cast<int>(system)); }

void Spool::File::Append(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(static_cast<int>(system), bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw RuntimeError::FromSystem(folder, n < 0 ? errno : EIO);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::size_t Spool::File::ReadAt(std::uint64_t at, char* into, std::size_t size) const {
    for (;;) {
        const ssize_t n = ::pread(static_cast<int>(system), into, size, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw RuntimeError::FromSystem(folder, errno);
        return static_cast<std::size_t>(n);
    }
}

struct InputFile::Handle {
    int fd = -1;
};

InputFile::InputFile(const std::string& path) : path_(path), handle_(std::make_unique<Handle>()) {
    // O_NONBLOCK keeps the open of a FIFO from waiting for a writer, and
    // stays: a regular file's reads never wait, so one that would (a kernel
    // pipe that only claims to be a file) is no ordinary file.
    if (HasNul(path)) throw RuntimeError::FromSystem(path, ENOENT);
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw RuntimeError::FromSystem(path, errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        throw RuntimeError::FromSystem(path, err);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        if (S_ISDIR(st.st_mode)) throw RuntimeError::FromSystem(path, EISDIR);
        throw RuntimeError(path, "Not a regular file");
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    handle_->fd = fd;
}

InputFile::~InputFile() { ::close(handle_->fd); }

std::size_t InputFile::Read(char* buf, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(handle_->fd, buf, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno == EAGAIN) throw RuntimeError(path_, "Not a regular file: reading it would wait");
        if (errno != EINTR) throw RuntimeError::FromSystem(path_, errno);
    }
}

void InputFile::Seek(std::uint64_t offset) {
    if (::lseek(handle_->fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
        throw RuntimeError::FromSystem(path_, errno);
    }
}

}  // namespace a5merge
