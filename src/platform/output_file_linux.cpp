// Outputs put in place whole, on Linux: an unnamed file (O_TMPFILE) in the
// target's folder, linked or renamed into place once complete; where that is
// not possible, a locked file under a temporary name of ours. Which target
// gets which is output_file.cpp's.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/cleanup_linux.h"
#include "platform/descriptor_linux.h"
#include "platform/file_system.h"
#include "platform/output_sink.h"
#include "platform/placement.h"
#include "platform/private_folder_system.h"
#include "platform/runtime_error.h"

namespace a5merge {

namespace {


using posix::Fd;

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

std::string ProcPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

int RegisterTempName(int dirFd, const std::string& name) {
    return exit_cleanup::AddFile(dirFd, name.c_str());
}

void UnregisterTempName(int& slot) { exit_cleanup::Remove(slot); }

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Flushes the folder's entries to the disk: names made or removed stay so.
void SyncFolder(int dirFd) {
    const Fd folder(::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.valid()) ::fsync(folder.get());
}

// File systems on which overwriting a block takes a new one.
bool CopiesOnWrite(int fd) {
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0) return false;
    constexpr long kBtrfs = 0x9123683E, kZfs = 0x2FC12FC1, kBcachefs = 0xCA451A4E;
    return fs.f_type == kBtrfs || fs.f_type == kZfs || fs.f_type == kBcachefs;
}

struct FileOutput final : OutputSink {
    std::string path;       // as given, for messages
    std::string errorPath;  // named by a failed write
    bool cutsBack = false;  // standard output, written as it comes
    IfExists ifExists = IfExists::Replace;
    Fd fd;  // where the content goes now
    std::string writtenPath;

    // Aside: the target's folder (and its path, as given) and name there,
    // and the new file's name while it has one of its own (and its slot for
    // signals).
    Fd dirFd;
    std::string folderPath;
    std::string name;
    std::string tempName;
    int tempSlot = -1;
    // Where the temporary name is written down while the file may outlive
    // the run under it (nothing when no private folder could be made: then
    // one left by a killed run stays, unknown).
    std::unique_ptr<PrivateFolder> record;

    // Spooled: the destination, unless it is standard output: the FIFO or
    // device that was there when opened (a path, not opened for writing).
    bool toStandardOutput = false;
    Fd special;

    // AsItComes: the length standard output is cut back to when dropped,
    // once something was written.
    off_t cutBack = 0;
    bool wrote = false;

    ~FileOutput() override {
        UnregisterTempName(tempSlot);
        // Closed (and unlocked) before the record of the new file goes.
        fd.reset();
        dirFd.reset();
        special.reset();
    }

    void Drop() override {
        if (!tempName.empty()) ::unlinkat(dirFd.get(), tempName.c_str(), 0);
        if (cutsBack && wrote && ::ftruncate(STDOUT_FILENO, cutBack) == 0) {
            ::lseek(STDOUT_FILENO, cutBack, SEEK_SET);
        }
    }

    // A new file in folder `dirFd`, open for reading and writing, locked,
    // with the permissions `mode` (less the umask): unnamed where the file
    // system allows it, else under a temporary name of ours. `where` names
    // the folder in messages.
    void MakeFile(const std::string& where, mode_t mode = 0666) {
        if (CanNameUnnamedFiles()) {
            fd.reset(::openat(dirFd.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
            if (fd.valid()) {
                ::flock(fd.get(), LOCK_EX | LOCK_NB);
                return;
            }
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
                throw RuntimeError::FromSystem(where, errno);
            }
        }
        // Where it is written down is made first: only a moment passes
        // between the file's making and its record.
        if (!name.empty()) MakeRecordFolder();
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string candidate = RandomTempName();
            Fd made(::openat(dirFd.get(), candidate.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC,
                             mode));
            if (!made.valid() && errno == EEXIST) continue;
            if (!made.valid()) throw RuntimeError::FromSystem(where, errno);
            // Locked, and still under its name: another run's clean-up may
            // have taken it between the two.
            struct stat mine {
            }, named{};
            if (::flock(made.get(), LOCK_EX | LOCK_NB) == 0 && ::fstat(made.get(), &mine) == 0 &&
                ::fstatat(dirFd.get(), candidate.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                SameFile(mine, named)) {
                fd = std::move(made);
                tempName = candidate;
                tempSlot = RegisterTempName(dirFd.get(), tempName);
                Record(tempName, false);
                return;
            }
        }
        throw RuntimeError::FromSystem(where, EEXIST);
    }

    explicit FileOutput(const std::string& given) : path(given), errorPath(given) {}

    void OpenNewFile(const std::string& place, IfExists whenThere) override {
        ifExists = whenThere;
        const auto slash = place.rfind('/');
        const std::string folder = slash == std::string::npos ? "."
                                   : slash == 0               ? "/"
                                                              : place.substr(0, slash);
        name = slash == std::string::npos ? place : place.substr(slash + 1);
        if (name.empty()) throw RuntimeError::FromSystem(path, ENOENT);
        dirFd.reset(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!dirFd.valid()) throw RuntimeError::FromSystem(path, errno);
        folderPath = folder;
        SettleLeftovers();
        // The new content is never more open than the file it replaces, nor
        // given to another owner, from its first byte.
        struct stat target {};
        const bool replaces =
            ::fstatat(dirFd.get(), name.c_str(), &target, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(target.st_mode);
        try {
            MakeFile(path, replaces ? target.st_mode & 0777 : 0666);
        } catch (const RuntimeError& error) {
            const int why = error.systemError();
            if (!replaces || target.st_nlink < 2 ||
                (why != EACCES && why != EPERM && why != EROFS)) {
                throw;
            }
            throw RuntimeError(path, NoRoomBesideHardLinked(target.st_nlink, error.reason()), why);
        }
        if (replaces && (target.st_uid != ::geteuid() || target.st_gid != ::getegid())) {
            (void)!::fchown(fd.get(), target.st_uid, target.st_gid);
        }
    }

    // A temporary file for content that goes elsewhere at Commit: failures
    // name the temporary folder, where the room is missing.
    void OpenSpool(const OutputTarget* into) override {
        toStandardOutput = into == nullptr;
        if (into != nullptr) {
            special.reset(::open(path.c_str(), O_PATH | O_CLOEXEC));
            if (!special.valid()) throw RuntimeError::FromSystem(path, errno);
        }
        errorPath = TemporaryFolder();
        dirFd.reset(::open(errorPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!dirFd.valid()) throw RuntimeError::FromSystem(errorPath, errno);
        MakeFile(errorPath);
        if (!tempName.empty()) ::unlinkat(dirFd.get(), tempName.c_str(), 0);  // open, it stays
        UnregisterTempName(tempSlot);
        tempName.clear();
    }

    void WriteToStandardOutput(const StandardOutputPlace& place) override {
        cutsBack = true;
        cutBack = place.position;
        fd.reset(::dup(STDOUT_FILENO));
        if (!fd.valid()) throw RuntimeError::FromSystem(path, errno);
    }

    // Gives the finished file the name `target` in the folder: replacing what
    // is there, or (`replace` false) only while the name is free.
    void Place(const char* target, bool replace) {
        if (tempName.empty()) {
            if (!replace) {
                if (::linkat(AT_FDCWD, ProcPath(fd.get()).c_str(), dirFd.get(), target,
                             AT_SYMLINK_FOLLOW) != 0) {
                    throw RuntimeError::FromSystem(path, errno);
                }
                return;
            }
            NameUnnamed();
        }
        if (replace) {
            if (::renameat(dirFd.get(), tempName.c_str(), dirFd.get(), target) != 0) {
                throw RuntimeError::FromSystem(path, errno);
            }
        } else if (::renameat2(dirFd.get(), tempName.c_str(), dirFd.get(), target,
                               RENAME_NOREPLACE) != 0) {
            if (errno != EINVAL) throw RuntimeError::FromSystem(path, errno);
            // No such rename on this file system: a second link, which fails as well
            // when the name is taken.
            if (::linkat(dirFd.get(), tempName.c_str(), dirFd.get(), target, 0) != 0) {
                throw RuntimeError::FromSystem(path, errno);
            }
            ::unlinkat(dirFd.get(), tempName.c_str(), 0);
        }
        UnregisterTempName(tempSlot);
        tempName.clear();
    }

    // Writes down that the new file is, or is about to be, `temporary` in
    // the folder (`whole`: with all of its content, on the disk), for the
    // next run should this one be killed before it takes the target's name.
    // Without a private folder, nothing is written down.
    void MakeRecordFolder() {
        try {
            if (!record) record = std::make_unique<PrivateFolder>();
        } catch (const RuntimeError&) {
            record.reset();
        }
    }

    void Record(const std::string& temporary, bool whole) {
        struct stat mine {};
        if (name.empty() || ::fstat(fd.get(), &mine) != 0) return;  // a spool is nobody's target
        MakeRecordFolder();
        if (!record) return;
        try {
            const std::string folder = AbsolutePath(folderPath);
            const std::string in = folder.back() == '/' ? folder : folder + "/";
            Placement placement;
            placement.target = in + name;
            placement.fresh = in + temporary;
            placement.freshId = {static_cast<std::uint64_t>(mine.st_dev),
                                 static_cast<std::uint64_t>(mine.st_ino)};
            placement.whole = whole;
            // A part of a sheet needs no record that outlives the machine.
            record->SetFile(kPlacementRecord, RecordText(placement), whole);
        } catch (const RuntimeError&) {
            record.reset();
        }
    }

    // Gives the unnamed new file a temporary name of its own.
    void NameUnnamed() {
        for (int attempt = 0;; ++attempt) {
            const std::string candidate = RandomTempName();
            Record(candidate, true);
            if (::linkat(AT_FDCWD, ProcPath(fd.get()).c_str(), dirFd.get(), candidate.c_str(),
                         AT_SYMLINK_FOLLOW) == 0) {
                tempName = candidate;
                tempSlot = RegisterTempName(dirFd.get(), tempName);
                return;
            }
            if (errno != EEXIST || attempt == 100) throw RuntimeError::FromSystem(path, errno);
        }
    }

    // Makes the new file carry the owner, group, mode, access control list
    // and other extended attributes of `target`; false where the process may
    // not set them all.
    bool TakeOver(const struct stat& target) {
        if (::fchown(fd.get(), target.st_uid, target.st_gid) != 0) return false;
        const mode_t wanted = target.st_mode & 07777;
        struct stat now {};
        return ::fchmod(fd.get(), wanted) == 0 && CopyAttributes(target) &&
               ::fstat(fd.get(), &now) == 0 && (now.st_mode & 07777) == wanted;
    }

    // Gives the new file every extended attribute of `target` (its access
    // control list among them); false where one cannot be read or set.
    bool CopyAttributes(const struct stat& target) {
        const Fd held(::openat(dirFd.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!held.valid()) return false;
        struct stat st {};
        const std::string at =
            CanNameUnnamedFiles() ? ProcPath(held.get()) : folderPath + "/" + name;
        bool copied = ::fstat(held.get(), &st) == 0 && SameFile(st, target);
        std::string names(4096, '\0');
        ssize_t listed = copied ? ::listxattr(at.c_str(), names.data(), names.size()) : -1;
        if (listed < 0 && errno == ERANGE) {
            names.resize(static_cast<std::size_t>(
                std::max<ssize_t>(::listxattr(at.c_str(), nullptr, 0), 0)));
            listed = ::listxattr(at.c_str(), names.data(), names.size());
        }
        if (listed < 0) copied = copied && (errno == ENOTSUP || errno == ENODATA);
        for (std::size_t i = 0; copied && listed > 0 && i < static_cast<std::size_t>(listed);) {
            const char* attribute = names.c_str() + i;
            i += std::strlen(attribute) + 1;
            const ssize_t size = ::getxattr(at.c_str(), attribute, nullptr, 0);
            std::string value(static_cast<std::size_t>(std::max<ssize_t>(size, 0)), '\0');
            copied = size >= 0 &&
                     ::getxattr(at.c_str(), attribute, value.data(), value.size()) == size &&
                     ::fsetxattr(fd.get(), attribute, value.data(), value.size(), 0) == 0;
        }
        return copied;
    }

    // Whether the file system has room to rewrite `out` (now `oldBlocks`
    // 512-byte blocks) with `size` bytes; throws ENOSPC when it has not.
    void EnsureRoom(int out, off_t size, blkcnt_t oldBlocks) {
        const bool copies = CopiesOnWrite(out);
        if (!copies && size > 0 && ::fallocate(out, FALLOC_FL_KEEP_SIZE, 0, size) == 0) return;
        if (!copies && size > 0 && errno != EOPNOTSUPP && errno != ENOSYS) {
            throw RuntimeError::FromSystem(path, errno);
        }
        // No reservation: what is free must hold what the rewrite may take,
        // all of it where every block written is a new one. There the count
        // of free blocks leaves out the new file until its transaction is on
        // the disk: it is put there first.
        if (copies) ::syncfs(out);
        struct statvfs fs {};
        if (::fstatvfs(out, &fs) != 0) throw RuntimeError::FromSystem(path, errno);
        const auto free = static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize;
        const auto held = static_cast<unsigned long long>(oldBlocks) * 512;
        const auto wanted = static_cast<unsigned long long>(size);
        const auto margin = (1ull << 20) + wanted / 64;
        const auto need = copies ? wanted + margin : (wanted > held ? wanted - held : 0) + margin;
        if (free < need) throw RuntimeError::FromSystem(path, ENOSPC);
    }

    // Writes the finished content over the target itself: under a lock, once
    // there is room, with the whole content kept as NAME.a5merge-new until
    // the rewrite is on the disk. False when the process may not write it.
    bool RewriteInPlace() {
        Fd out(::openat(dirFd.get(), name.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW));
        if (!out.valid()) {
            if (errno == EACCES || errno == EPERM) return false;
            throw RuntimeError::FromSystem(path, errno);
        }
        std::string copy;
        bool copyMade = false;
        try {
            if (::flock(out.get(), LOCK_EX | LOCK_NB) != 0) {
                throw RuntimeError(path, kAnotherRunRewrites, EWOULDBLOCK);
            }
            struct stat target {
            }, content{};
            if (::fstat(out.get(), &target) != 0 || ::fstat(fd.get(), &content) != 0) {
                throw RuntimeError::FromSystem(path, errno);
            }
            EnsureRoom(out.get(), content.st_size, target.st_blocks);

            copy = NameTheCopy();
            copyMade = true;
            SyncFolder(dirFd.get());

            CopyAll(fd.get(), out.get(), path);
            if (::ftruncate(out.get(), content.st_size) != 0 || ::fdatasync(out.get()) != 0) {
                throw RuntimeError::FromSystem(path, errno);
            }
            WrittenAt(out.get());
        } catch (const RuntimeError& error) {
            out.reset();
            if (!copyMade) throw;
            // The target may hold part of it now: the whole stays beside it.
            throw RuntimeError(
                error.path(),
                WholeSheetKeptIn(error.reason(), (folderPath == "/" ? "" : folderPath) + "/" + copy),
                error.systemError());
        }
        out.reset();
        // Ours only: the very file written, still under that name.
        struct stat mine {
        }, named{};
        if (::fstat(fd.get(), &mine) == 0 &&
            ::fstatat(dirFd.get(), copy.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            SameFile(mine, named)) {
            ::unlinkat(dirFd.get(), copy.c_str(), 0);
        }
        SyncFolder(dirFd.get());
        return true;
    }

    // Gives the finished file the first free name of NAME.a5merge-new,
    // NAME.a5merge-new-2 ... -9, never taking one that is there; returns it.
    std::string NameTheCopy() {
        for (int n = 1; n <= kCopyNames; ++n) {
            const std::string copy = CopyName(name, n);
            bool named = false;
            if (tempName.empty()) {
                named = ::linkat(AT_FDCWD, ProcPath(fd.get()).c_str(), dirFd.get(), copy.c_str(),
                                 AT_SYMLINK_FOLLOW) == 0;
            } else {
                named = ::renameat2(dirFd.get(), tempName.c_str(), dirFd.get(), copy.c_str(),
                                    RENAME_NOREPLACE) == 0;
                if (!named && errno == EINVAL &&
                    ::linkat(dirFd.get(), tempName.c_str(), dirFd.get(), copy.c_str(), 0) == 0) {
                    ::unlinkat(dirFd.get(), tempName.c_str(), 0);
                    named = true;
                }
                if (named) {
                    UnregisterTempName(tempSlot);
                    tempName.clear();
                }
            }
            if (named) return copy;
            if (errno != EEXIST) throw RuntimeError::FromSystem(path, errno);
        }
        throw RuntimeError(path, EveryCopyNameTaken(name), EEXIST);
    }

    // Records where the file open as `written` now is: the path given while
    // it names that file, else its folder as the system sees it now.
    void WrittenAt(int written) {
        writtenPath = path;
        struct stat mine {
        }, named{};
        if (::fstat(written, &mine) == 0 && ::stat(path.c_str(), &named) == 0 &&
            SameFile(mine, named)) {
            return;
        }
        char folder[4096];
        const ssize_t n = ::readlink(ProcPath(dirFd.get()).c_str(), folder, sizeof folder - 1);
        if (n > 0) writtenPath = std::string(folder, static_cast<std::size_t>(n)) + "/" + name;
    }

    void PutInPlace() override {
        if (::fdatasync(fd.get()) != 0) throw RuntimeError::FromSystem(path, errno);
        if (!tempName.empty()) Record(tempName, true);
        if (ifExists == IfExists::Fail) {
            Place(name.c_str(), false);
            SyncFolder(dirFd.get());
            return WrittenAt(fd.get());
        }
        struct stat target {};
        if (::fstatat(dirFd.get(), name.c_str(), &target, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(target.st_mode)) {
            const bool keepsEverything = target.st_nlink == 1 && TakeOver(target);
            if (!keepsEverything) {
                if (RewriteInPlace()) return;
                // A new file would split the links or change the owner.
                throw RuntimeError(path, CannotRewriteInPlace(target.st_nlink), EACCES);
            }
        }
        Place(name.c_str(), true);
        SyncFolder(dirFd.get());
        WrittenAt(fd.get());
    }

    void Write(std::string_view bytes) override {
        wrote = wrote || !bytes.empty();
        WriteAll(fd.get(), bytes, errorPath);
    }

    const std::string& WrittenPath() const override { return writtenPath; }

    void Deliver() override {
        Fd opened;  // the FIFO or device; else standard output
        if (!toStandardOutput) {
            // Into the very FIFO or device that was checked: one put there
            // since is not written into.
            struct stat checked {
            }, now{};
            if (::fstat(special.get(), &checked) != 0 || ::stat(path.c_str(), &now) != 0 ||
                !SameFile(checked, now)) {
                throw RuntimeError(path, kReplacedMeanwhile);
            }
            // A FIFO waits here for its reader, as it does for any writer.
            opened.reset(CanNameUnnamedFiles()
                             ? ::open(ProcPath(special.get()).c_str(), O_WRONLY | O_CLOEXEC)
                             : ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
            if (!opened.valid()) throw RuntimeError::FromSystem(path, errno);
            struct stat there {};
            if (::fstat(opened.get(), &there) != 0 || !SameFile(there, checked)) {
                throw RuntimeError(path, kReplacedMeanwhile);
            }
        }
        CopyAll(fd.get(), toStandardOutput ? STDOUT_FILENO : opened.get(), path);
        if (opened.Close() != 0) throw RuntimeError::FromSystem(path, errno);
        writtenPath = path;
    }
};

}  // namespace

OutputTarget ExamineOutputTarget(const std::string& path) {
    using Is = OutputTarget::Is;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) throw RuntimeError::FromSystem(path, errno);
        return {Is::Nothing};
    }
    if (S_ISDIR(st.st_mode)) return {Is::Folder};
    if (S_ISFIFO(st.st_mode)) return {Is::Fifo};
    if (S_ISCHR(st.st_mode)) return {Is::CharacterDevice};
    if (S_ISSOCK(st.st_mode)) return {Is::Socket};
    if (!S_ISREG(st.st_mode)) return {Is::BlockDevice};
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return {Is::File, path};
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) throw RuntimeError::FromSystem(path, errno);
    OutputTarget target{Is::File, real};
    std::free(real);
    return target;
}

StandardOutputPlace ExamineStandardOutput(const std::string& name) {
    struct stat st {};
    if (::fstat(STDOUT_FILENO, &st) != 0) throw RuntimeError::FromSystem(name, errno);
    const bool appends = (::fcntl(STDOUT_FILENO, F_GETFL) & O_APPEND) != 0;
    const off_t at = appends ? st.st_size : ::lseek(STDOUT_FILENO, 0, SEEK_CUR);
    return {S_ISREG(st.st_mode) && at >= 0 && at >= st.st_size, at};
}

std::unique_ptr<OutputSink> NewOutputSink(const std::string& path) {
    return std::make_unique<FileOutput>(path);
}

}  // namespace a5merge
