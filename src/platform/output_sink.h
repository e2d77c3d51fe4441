#pragma once

// What OutputFile asks of each system: what a path names, where standard
// output stands, and the three ways content reaches its place. The policy
// (which target gets which way, what is refused and why) is output_file.cpp;
// each system's file holds only its own calls.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

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
    Is is = Is::Nothing;
    std::string place;   // File: the file itself, links followed
    std::string device;  // DeviceName, CharacterDevice on Windows: its name
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

// Where content goes until it is committed.
class OutputSink {
public:
    virtual ~OutputSink() = default;
    // Failures name the path of the place being written.
    virtual void Write(std::string_view bytes) = 0;
    // A new file: puts it in its place; returns where it is now, as a path.
    virtual std::string PutInPlace() = 0;
    // A spool: copies it into its destination; returns that, as a path.
    virtual std::string Deliver() = 0;
    // Leaves nothing of what was written (standard output is cut back to
    // where it stood); called when dropped uncommitted.
    virtual void Drop() = 0;
};

// A new file beside `place` (the file the target names, links followed, or
// the path itself), put in its place at Commit; `path` as given, for
// messages.
std::unique_ptr<OutputSink> NewFileInPlaceOf(const std::string& path, const std::string& place,
                                             IfExists ifExists);
// A temporary file, copied at Commit into the FIFO or device that `target`
// names now, the very one (`target.device` on Windows).
std::unique_ptr<OutputSink> SpoolInto(const std::string& path, const OutputTarget& target);
// A temporary file, copied to standard output at Commit.
std::unique_ptr<OutputSink> SpoolToStandardOutput(const std::string& name);
// Standard output itself, a file written from `place.position`.
std::unique_ptr<OutputSink> StandardOutputAsItComes(const std::string& name,
                                                    const StandardOutputPlace& place);

}  // namespace a5merge
