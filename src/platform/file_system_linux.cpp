// File-system queries and input files, on Linux.

#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/descriptor_linux.h"
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
    posix::Fd fd;
};

InputFile::InputFile(const std::string& path) : path_(path), handle_(std::make_unique<Handle>()) {
    // O_NONBLOCK keeps the open of a FIFO from waiting for a writer, and
    // stays: a regular file's reads never wait, so one that would (a kernel
    // pipe that only claims to be a file) is no ordinary file.
    if (HasNul(path)) throw RuntimeError::FromSystem(path, ENOENT);
    posix::Fd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid()) throw RuntimeError::FromSystem(path, errno);
    struct stat st {};
    if (::fstat(file.get(), &st) != 0) throw RuntimeError::FromSystem(path, errno);
    if (!S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) throw RuntimeError::FromSystem(path, EISDIR);
        throw RuntimeError(path, "Not a regular file");
    }
    ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    handle_->fd = std::move(file);
}

InputFile::~InputFile() = default;

std::size_t InputFile::Read(char* buf, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(handle_->fd.get(), buf, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno == EAGAIN) throw RuntimeError(path_, "Not a regular file: reading it would wait");
        if (errno != EINTR) throw RuntimeError::FromSystem(path_, errno);
    }
}

void InputFile::Seek(std::uint64_t offset) {
    if (::lseek(handle_->fd.get(), static_cast<off_t>(offset), SEEK_SET) < 0) {
        throw RuntimeError::FromSystem(path_, errno);
    }
}

}  // namespace a5merge
