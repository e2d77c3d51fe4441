#pragma once

// What OutputFile asks of each system: what a path names, where standard
// output stands, and the three ways content reaches its place. The policy
// (which target gets which way, what is refused and why) and the words
// said when a sheet does not reach its place are output_file.cpp's; each
// system's file holds its own calls and picks among those words.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/file_system.h"

namespace a5merge {

// What an output path names, as this system sees it.
struct OutputTarget {
    enum class Is {
        Nothing,  // no such name (or a link to nothing): a new file
        File,     // a regular file, perhaps through links
        Folder,
        Fifo,
        CharacterDevice,  // Linux: /dev/tty...; Windows: NUL
        Socket,
        BlockDevice,
        DeviceName,  // Windows: CON, PRN, COM1...: a device, not a file
        DevicePath,  // Windows: \\.\ paths
        Stream,      // Windows: "sheet.PS:x", a stream of a file
    };
    OutputTarget(Is what, std::string file = {}, std::string name = {})
        : is(what), place(std::move(file)), device(std::move(name)) {}

    Is is;
    std::string place;   // File: the file itself, links followed
    std::string device;  // DeviceName: its name
};

// Throws RuntimeError when the path cannot be looked at (a name too long, a
// folder that may not be searched).
OutputTarget ExamineOutputTarget(const std::string& path);

// Where the process's standard output writes: a file, at or past its end
// (then the content may go as it comes), or anything else.
struct StandardOutputPlace {
    bool fileAtItsEnd = false;
    std::int64_t position = 0;  // fileAtItsEnd: where it writes now
};
StandardOutputPlace ExamineStandardOutput(const std::string& name);

// Where content goes until it is committed: opened one of four ways,
// each a system's own.
class OutputSink {
public:
    virtual ~OutputSink() = default;

    // A new file beside `place` (the file the target names, links
    // followed, or the path itself), put in its place at PutInPlace.
    virtual void OpenNewFile(const std::string& place, IfExists ifExists) = 0;
    // A temporary file, copied at Deliver into the FIFO or device that
    // `into` names now, the very one; nullptr: to standard output.
    virtual void OpenSpool(const OutputTarget* into) = 0;
    // Standard output itself, a file written from `place.position`.
    virtual void WriteToStandardOutput(const StandardOutputPlace& place) = 0;

    // Failures name the path of the place being written.
    virtual void Write(std::string_view bytes) = 0;
    // A new file: puts it in its place.
    virtual void PutInPlace() = 0;
    // A spool: copies it into its destination.
    virtual void Deliver() = 0;
    // Once put in place or delivered: where it is now, as a path; empty
    // when that cannot be told.
    virtual const std::string& WrittenPath() const = 0;
    // Leaves nothing of what was written (standard output is cut back to
    // where it stood); called when dropped uncommitted.
    virtual void Drop() = 0;
};

// What a sink says when the sheet does not reach its place, the same on
// every system.
//
// `reason` and "; nothing was written".
std::string NothingWritten(const std::string& reason);
// A file with `links` hard links is rewritten in place, its new content kept
// beside it meanwhile: refused when that file may not be made (`why`).
std::string NoRoomBesideHardLinked(std::uint64_t links, const std::string& why);
// Neither a new file (it would split `links` links, or change the owner)
// nor a rewrite (this user may not write it).
std::string CannotRewriteInPlace(std::uint64_t links);
// A rewrite in place that failed part-way: the whole sheet is in `copy`.
std::string WholeSheetKeptIn(const std::string& reason, const std::string& copy);
// The names the whole new sheet is kept under beside the file `name` while
// it is rewritten: the first free of NAME.a5merge-new, then -2 to -9.
inline constexpr int kCopyNames = 9;
std::string CopyName(const std::string& name, int n);
std::string EveryCopyNameTaken(const std::string& name);
inline constexpr const char* kAnotherRunRewrites =
    "another run is rewriting it; nothing was written";
inline constexpr const char* kReplacedMeanwhile =
    "was replaced while the sheet was made; nothing was written into what is there now";
inline constexpr const char* kReadOnly = "is read-only; nothing was written";
// Another program holds the target (no `newSheet`) or the new sheet open;
// `held` is the system's words for it.
std::string HeldByAnotherProgram(const std::string& held, const std::string& newSheet = {});
// A replacement that failed with `reason` and left the target's name
// `stranded` (else another file is under it): where the old sheet and the
// whole new one are now, each named only where it is.
std::string LeftAfterFailedReplacement(std::string reason, bool stranded,
                                       const std::string& oldSheet, const std::string& newSheet);

// A sink not opened yet, for the output named `path` in messages.
std::unique_ptr<OutputSink> NewOutputSink(const std::string& path);

}  // namespace a5merge
