#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace a5merge {

// Paths are bytes, handed to the system as they are: nothing here decodes
// them or resolves "." and ".." by text. A path holding a NUL byte names
// nothing (the system would read only its part before the NUL).

// Attribute bits as the attribute query reports them.
inline constexpr int kAttrReadOnly = 1;  // the user may not write it
inline constexpr int kAttrHidden = 2;    // Linux: the name starts with "."; Windows: the attribute
inline constexpr int kAttrSystem = 4;    // Windows only: a file of the system
inline constexpr int kAttrDirectory = 16;

// Why this system hides a file kAttrHidden says is hidden, as its user
// would look: its name's dot, or its Hidden attribute.
extern const char* const kHiddenBecause;

// The folder separator of this platform.
char PlatformSeparator();

// First ordinary file matching `pattern`, or empty text. A pattern that names
// an ordinary file exactly finds it, whatever characters its name holds;
// otherwise the last component may hold the wildcards * (any run of
// characters) and ? (one character), and its folder is listed. Ordinary: a
// regular file once links are followed, and not hidden. Nothing else is
// opened, so FIFOs and devices are never read.
std::string Dir(const std::string& pattern);

// Attribute bits of `path` (links followed). Throws RuntimeError when the
// path cannot be queried, for instance because it does not exist.
int GetAttr(const std::string& path);

// Whether `path` is a regular file, links followed.
bool IsRegularFile(const std::string& path);

// `path` made absolute against the current folder, as text: nothing is
// resolved or removed. Throws RuntimeError when the current folder has no
// path (it was deleted, for instance).
std::string AbsolutePath(const std::string& path);

// The size and last change of a file (links followed), for telling whether
// it changed; nothing when it cannot be queried.
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t changedNs = 0;  // since 1970, in nanoseconds
    bool operator==(const FileStamp&) const = default;
};
std::optional<FileStamp> StampOf(const std::string& path);

// Whether `path` names anything, a link to nothing included.
bool NamesSomething(const std::string& path);

// Whether reaching `path` may wait for another machine (Windows: a UNC
// path, or a drive mapped to a network share); false on Linux, where such
// waits are the mount's.
bool OnAnotherMachine(const std::string& path);

// Whether `path` (links followed) is the very file the process's standard
// output writes to.
bool IsStandardOutput(const std::string& path);

// The folder for temporary files: $TMPDIR when it names a folder this process
// may write in, else /tmp.
std::string TemporaryFolder();

// The full path of the program `name` on $PATH, or empty text.
std::string FindProgram(const std::string& name);

// A new, empty folder that only this user may enter, in TemporaryFolder(),
// removed with everything in it when dropped (never through a link inside
// it), and also when the process ends by a signal or by CleanUpBeforeExit.
// It carries this program's mark (a file inside that names the folder's own
// identity) and is held while it lives, so that no other run's clean-up
// takes it. Throws RuntimeError naming the temporary folder when it cannot
// be made.
class PrivateFolder {
public:
    PrivateFolder();
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    const std::string& path() const { return path_; }
    // Full path of `name` inside it.
    std::string Path(const std::string& name) const { return path_ + PlatformSeparator() + name; }

    // Gives the file `name` inside the content `bytes`, whole (a new file put
    // in place under that name), on the disk before it returns unless
    // `synced` is false (then it outlives the process, not the machine);
    // empty `bytes`: the file goes. Throws RuntimeError.
    void SetFile(const std::string& name, std::string_view bytes, bool synced = true) const;
    // Kept, with what it holds, when dropped: let go of for the clean-up of
    // the next run (SettleLeftovers).
    void LeaveForTheNextRun() { leave_ = true; }

    // How the system holds it (private_folder_system.h).
    struct Held;

private:
    std::string path_;
    std::unique_ptr<Held> held_;
    bool leave_ = false;
};

// Once per process, the clean-up of what runs that were killed left: each
// private folder in TemporaryFolder() that carries this program's mark and
// that no live run holds has the placement it records settled (see
// placement.h), then goes, without following any link inside it. A folder
// or file that only looks like ours by its name is left alone.
void SettleLeftovers();

// Bytes kept aside in order: in memory up to `memoryLimit`, the rest in an
// unnamed file in TemporaryFolder(). Failures throw RuntimeError naming that
// folder.
class Spool {
public:
    explicit Spool(std::size_t memoryLimit = std::size_t{1} << 20);
    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    void Append(std::string_view bytes);
    // Hands everything kept, in order and in pieces, to `sink`.
    void ForEach(const std::function<void(std::string_view)>& sink) const;

private:
    struct File;  // the unnamed file, once there is one
    std::size_t memoryLimit_;
    std::string memory_;
    std::unique_ptr<File> file_;
    std::string folder_;
};

// A regular file open for reading. Opening anything else (a folder, a FIFO, a
// device, also through a link) fails at once, without blocking, and so does a
// read that would wait (a file that only claims to be regular).
class InputFile {
public:
    explicit InputFile(const std::string& path);  // throws RuntimeError
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Reads up to `size` bytes; 0 at the end. Throws RuntimeError.
    std::size_t Read(char* buf, std::size_t size);
    // Goes back or on to byte `offset` of the file. Throws RuntimeError.
    void Seek(std::uint64_t offset);

    const std::string& path() const { return path_; }

private:
    struct Handle;
    std::string path_;
    std::unique_ptr<Handle> handle_;
};

// What an output does with a FIFO or a character device at its path.
enum class SpecialFiles {
    WriteInto,  // writes the content into it, once complete (waiting for a FIFO's reader)
    Refuse,     // refuses it when opened: for a window, which must never wait
};

// What an output does when its path already names a file.
enum class IfExists {
    Replace,  // the file is replaced
    Fail,     // Commit fails with EEXIST, atomically: two outputs never both win
};

// A new content for a path, written aside and put in place whole by Commit();
// until then, and for good when it is dropped uncommitted, the path keeps
// what it held. Failures throw RuntimeError with the path and the system's
// reason.
//
// - A path that names nothing, or a regular file (also through links): the
//   content goes to a new file in the path's folder (as the file system
//   resolves it), flushed to the disk and renamed into place by Commit. A
//   file replaced keeps its mode bits, owner and group. Where the new file
//   cannot carry them (another owner or a group the process may not set) or
//   the file has more than one hard link, Commit instead rewrites the file
//   in place from the finished content, so that every link and setting stays:
//   under a lock (another run rewriting it makes this one fail), only when
//   there is room for all of it, and with the whole content kept beside it
//   as NAME.a5merge-new until the rewrite is on the disk. A file it may not
//   write in place is refused, never given to another owner.
// - Where the new file needs a name of its own before it takes the target's
//   (Windows always; Linux where an unnamed file cannot be named later, or
//   to replace a file), it has a hidden name of ours (.a5merge-XXXXXXXX),
//   locked while this run lives and removed on SIGINT, SIGTERM or SIGHUP
//   (Windows: Ctrl+C, Ctrl+Break, the console closed). It is written down,
//   with its identity, in a private folder of the run (placement.h): what a
//   run that was killed leaves is settled by the next run (SettleLeftovers),
//   and a user's own file of such a name is never touched.
// - On Windows a file replaced is first given a name of ours beside it
//   (ReplaceFileW's backup) until the new one is in place: whatever fails or
//   however the run ends, the target holds the old or the new content, or the
//   failure names where both are whole; steps another program's brief hold
//   refuses (a virus scanner, the indexer) are tried again for about a
//   second.
// - A FIFO or a character device is written into, not replaced, and only by
//   Commit, into the very one that was there when it was opened: until then
//   the content waits in a temporary file. With SpecialFiles::Refuse, it is
//   refused when opened.
// - A folder, a socket or a block device is refused when opened.
class OutputFile {
public:
    OutputFile(const std::string& path, IfExists ifExists,
               SpecialFiles special = SpecialFiles::WriteInto);
    // The process's standard output, named `name` in messages. A regular
    // file gets the content as it comes, from where it stands, and is cut
    // back to that length when the output is dropped; anything else (a pipe,
    // a terminal) gets it only at Commit.
    static std::unique_ptr<OutputFile> StandardOutput(const std::string& name);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Write(std::string_view bytes);
    void Commit();
    // Once committed: where the content is now, as a path (its folder may
    // have been renamed meanwhile); the path given when that cannot be told.
    const std::string& WrittenPath() const;

private:
    struct Impl;
    explicit OutputFile(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace a5merge
