// Outputs put in place whole, on Linux: an unnamed file (O_TMPFILE) in the
// target's folder, linked or renamed into place once complete.

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "platform/file_system.h"
#include "platform/runtime_error.h"

namespace a5merge {

namespace {

void Close(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

void WriteAll(int fd, std::string_view data, const std::string& path) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw RuntimeError::FromSystem(path, n < 0 ? errno : EIO);
        data.remove_prefix(static_cast<std::size_t>(n));
    }
}

// Copies all of `from`, a regular file, to `to` from where `to` stands.
void CopyAll(int from, int to, const std::string& path) {
    struct stat st {};
    if (::fstat(from, &st) != 0) throw RuntimeError::FromSystem(path, errno);
    off_t offset = 0;
    while (offset < st.st_size) {
        const ssize_t n =
            ::sendfile(to, from, &offset, static_cast<std::size_t>(st.st_size - offset));
        if (n > 0) continue;
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || (errno != EINVAL && errno != ENOSYS)) {
            throw RuntimeError::FromSystem(path, n == 0 ? EIO : errno);
        }
        // No sendfile to this kind of file: copy through a buffer.
        char buf[64 * 1024];
        for (;;) {
            const ssize_t got = ::pread(from, buf, sizeof buf, offset);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) throw RuntimeError::FromSystem(path, errno);
            if (got == 0) return;
            WriteAll(to, {buf, static_cast<std::size_t>(got)}, path);
            offset += got;
        }
    }
}

// Unnamed files can be given a name through /proc only.
bool CanNameUnnamedFiles() {
    static const bool can = ::access("/proc/self/fd", X_OK) == 0;
    return can;
}

std::string RandomTempName() {
    static std::mt19937 random{std::random_device{}()};
    char name[32];
    std::snprintf(name, sizeof name, ".a5merge-%08x", static_cast<unsigned>(random()));
    return name;
}

// A new file in folder `dirFd`, open for reading and writing: unnamed where
// the file system allows it, else under a hidden temporary name (`tempName`).
int MakeFileIn(int dirFd, std::string& tempName, const std::string& path) {
    if (CanNameUnnamedFiles()) {
        const int fd = ::openat(dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            throw RuntimeError::FromSystem(path, errno);
        }
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempName = RandomTempName();
        const int fd =
            ::openat(dirFd, tempName.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        if (errno != EEXIST) throw RuntimeError::FromSystem(path, errno);
    }
    throw RuntimeError::FromSystem(path, EEXIST);
}

}  // namespace

struct OutputFile::Impl {
    enum class Kind {
        Aside,     // a new file in the target's folder, put in place at Commit
        Spooled,   // a temporary file, copied to the destination at Commit
        AsItComes  // standard output that is a regular file, cut back if dropped
    };

    std::string path;  // as given, for messages
    Kind kind = Kind::Aside;
    IfExists ifExists = IfExists::Replace;
    int fd = -1;  // where the content goes now
    bool committed = false;

    // Aside: the target's folder and name there, and the new file's name
    // while it has one of its own.
    int dirFd = -1;
    std::string name;
    std::string tempName;

    // Spooled: the destination, opened at Commit unless it is standard output.
    bool toStandardOutput = false;

    // AsItComes: the length standard output is cut back to when dropped.
    off_t cutBack = 0;

    ~Impl() {
        if (!committed) Drop();
        Close(fd);
        Close(dirFd);
    }

    void Drop() {
        if (kind == Kind::Aside && !tempName.empty()) ::unlinkat(dirFd, tempName.c_str(), 0);
        if (kind == Kind::AsItComes) (void)!::ftruncate(STDOUT_FILENO, cutBack);
    }

    void OpenAside(const std::string& place) {
        const auto slash = place.rfind('/');
        const std::string folder = slash == std::string::npos ? "."
                                   : slash == 0               ? "/"
                                                              : place.substr(0, slash);
        name = slash == std::string::npos ? place : place.substr(slash + 1);
        if (name.empty()) throw RuntimeError::FromSystem(path, ENOENT);
        dirFd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (dirFd < 0) throw RuntimeError::FromSystem(path, errno);
        fd = MakeFileIn(dirFd, tempName, path);
    }

    void OpenSpool() {
        kind = Kind::Spooled;
        const std::string folder = TemporaryFolder();
        dirFd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (dirFd < 0) throw RuntimeError::FromSystem(folder, errno);
        fd = MakeFileIn(dirFd, tempName, path);
        if (!tempName.empty()) ::unlinkat(dirFd, tempName.c_str(), 0);  // open, it stays
        tempName.clear();
    }

    // Gives the finished file the name `target` in the folder: replacing what
    // is there, or (`replace` false) only while the name is free.
    void Place(const char* target, bool replace) {
        if (tempName.empty()) {
            char self[64];
            std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
            if (!replace) {
                if (::linkat(AT_FDCWD, self, dirFd, target, AT_SYMLINK_FOLLOW) != 0) {
                    throw RuntimeError::FromSystem(path, errno);
                }
                return;
            }
            // A name of its own first, then renamed over the target.
            for (int attempt = 0;; ++attempt) {
                tempName = RandomTempName();
                if (::linkat(AT_FDCWD, self, dirFd, tempName.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                    break;
                }
                if (errno != EEXIST || attempt == 100) {
                    tempName.clear();
                    throw RuntimeError::FromSystem(path, errno);
                }
            }
        }
        if (replace) {
            if (::renameat(dirFd, tempName.c_str(), dirFd, target) != 0) {
                throw RuntimeError::FromSystem(path, errno);
            }
        } else if (::renameat2(dirFd, tempName.c_str(), dirFd, target, RENAME_NOREPLACE) != 0) {
            if (errno != EINVAL) throw RuntimeError::FromSystem(path, errno);
            // No such rename on this file system: a second link, which fails as well
            // when the name is taken.
            if (::linkat(dirFd, tempName.c_str(), dirFd, target, 0) != 0) {
                throw RuntimeError::FromSystem(path, errno);
            }
            ::unlinkat(dirFd, tempName.c_str(), 0);
        }
        tempName.clear();
    }

    // Makes the new file carry the owner, group and mode of `target`;
    // false where the process may not set them.
    bool TakeOver(const struct stat& target) {
        if (::fchown(fd, target.st_uid, target.st_gid) != 0) return false;
        const mode_t wanted = target.st_mode & 07777;
        struct stat now {};
        return ::fchmod(fd, wanted) == 0 && ::fstat(fd, &now) == 0 &&
               (now.st_mode & 07777) == wanted;
    }

    // Writes the finished content over the target itself. Room is reserved
    // first, so that a full disk leaves the target as it was. False when the
    // process may not write the target.
    bool RewriteInPlace() {
        int out = ::openat(dirFd, name.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
        if (out < 0) {
            if (errno == EACCES || errno == EPERM) return false;
            throw RuntimeError::FromSystem(path, errno);
        }
        try {
            struct stat st {};
            if (::fstat(fd, &st) != 0) throw RuntimeError::FromSystem(path, errno);
            if (st.st_size > 0 && ::fallocate(out, FALLOC_FL_KEEP_SIZE, 0, st.st_size) != 0 &&
                errno != EOPNOTSUPP && errno != ENOSYS) {
                throw RuntimeError::FromSystem(path, errno);
            }
            CopyAll(fd, out, path);
            if (::ftruncate(out, st.st_size) != 0 || ::fdatasync(out) != 0) {
                throw RuntimeError::FromSystem(path, errno);
            }
        } catch (...) {
            Close(out);
            throw;
        }
        Close(out);
        return true;
    }

    void CommitAside() {
        if (::fdatasync(fd) != 0) throw RuntimeError::FromSystem(path, errno);
        if (ifExists == IfExists::Fail) return Place(name.c_str(), false);

        struct stat target {};
        if (::fstatat(dirFd, name.c_str(), &target, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(target.st_mode)) {
            const bool keepsEverything = target.st_nlink == 1 && TakeOver(target);
            if (!keepsEverything && RewriteInPlace()) {
                if (!tempName.empty()) ::unlinkat(dirFd, tempName.c_str(), 0);
                tempName.clear();
                return;
            }
            if (!keepsEverything) ::fchmod(fd, target.st_mode & 07777);  // what can be kept
        }
        Place(name.c_str(), true);
    }

    void CommitSpooled() {
        int out = STDOUT_FILENO;
        if (!toStandardOutput) {
            // A FIFO waits here for its reader, as it does for any writer.
            out = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
            if (out < 0) throw RuntimeError::FromSystem(path, errno);
        }
        try {
            CopyAll(fd, out, path);
        } catch (...) {
            if (!toStandardOutput) ::close(out);
            throw;
        }
        if (!toStandardOutput) ::close(out);
    }
};

OutputFile::OutputFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

OutputFile::OutputFile(const std::string& path, IfExists ifExists)
    : impl_(std::make_unique<Impl>()) {
    Impl& out = *impl_;
    out.path = path;
    out.ifExists = ifExists;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        // Nothing there (or a link to nothing): a new name. Any other failure
        // (a name too long, a folder that may not be searched) says why.
        if (errno != ENOENT) throw RuntimeError::FromSystem(path, errno);
        out.OpenAside(path);
        return;
    }
    if (S_ISDIR(st.st_mode)) throw RuntimeError(path, "is a folder", EISDIR);
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) {
        out.OpenSpool();
        return;
    }
    if (S_ISSOCK(st.st_mode)) throw RuntimeError(path, "is a socket, not a file");
    if (!S_ISREG(st.st_mode)) throw RuntimeError(path, "is a block device, not a file");

    // A regular file, perhaps through links: the file itself is replaced.
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        char* real = ::realpath(path.c_str(), nullptr);
        if (real == nullptr) throw RuntimeError::FromSystem(path, errno);
        const std::string place = real;
        std::free(real);
        out.OpenAside(place);
        return;
    }
    out.OpenAside(path);
}

std::unique_ptr<OutputFile> OutputFile::StandardOutput(const std::string& name) {
    auto out = std::make_unique<Impl>();
    out->path = name;
    struct stat st {};
    if (::fstat(STDOUT_FILENO, &st) != 0) throw RuntimeError::FromSystem(name, errno);
    if (S_ISREG(st.st_mode)) {
        out->kind = Impl::Kind::AsItComes;
        const off_t at = (::fcntl(STDOUT_FILENO, F_GETFL) & O_APPEND) != 0
                             ? st.st_size
                             : ::lseek(STDOUT_FILENO, 0, SEEK_CUR);
        out->cutBack = at < 0 ? st.st_size : at;
        out->fd = ::dup(STDOUT_FILENO);
        if (out->fd < 0) throw RuntimeError::FromSystem(name, errno);
    } else {
        out->OpenSpool();
        out->toStandardOutput = true;
    }
    return std::unique_ptr<OutputFile>(new OutputFile(std::move(out)));
}

OutputFile::~OutputFile() = default;

void OutputFile::Write(std::string_view bytes) { WriteAll(impl_->fd, bytes, impl_->path); }

void OutputFile::Commit() {
    switch (impl_->kind) {
        case Impl::Kind::Aside:
            impl_->CommitAside();
            break;
        case Impl::Kind::Spooled:
            impl_->CommitSpooled();
            break;
        case Impl::Kind::AsItComes:
            break;
    }
    impl_->committed = true;
}

}  // namespace a5merge
