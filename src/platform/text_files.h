#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace a5merge {

// Sequential text files under small file numbers (1 to kMaxFileNo).
//
// A line read ends at CR or at CR LF; a lone LF stays inside the line, and the
// last line needs no terminator. Every line written gets CR LF. Bytes pass
// unchanged. An input is read through one buffer (bufferSize bytes);
// LineInput alone holds a line longer than that in memory, the other ways of
// reading never do. An output fills two buffers of that size in turn, each
// written whole by a thread of its own while the other fills.
//
// An output file is an OutputFile: written aside and put in place by Close();
// until then the target keeps what it held. Failures of the file system throw
// RuntimeError with the path and the system's reason (a failed write comes
// back from a later Print or from Close); misuse of the numbers (not open,
// wrong direction) throws std::logic_error.
class TextFiles {
public:
    static constexpr int kMaxFileNo = 255;
    static constexpr std::size_t kDefaultBufferSize = 256 * 1024;

    explicit TextFiles(std::size_t bufferSize = kDefaultBufferSize);
    ~TextFiles();  // closes everything; outputs not closed are discarded
    TextFiles(const TextFiles&) = delete;
    TextFiles& operator=(const TextFiles&) = delete;

    // The lowest number not in use; throws RuntimeError when all are in use.
    int FreeFile() const;
    bool IsOpen(int no) const;

    // Opens a regular file for reading (anything else fails at once).
    void OpenInput(int no, const std::string& path);
    // Starts a new content for `path`; what was there stays until Close(),
    // which with IfExists::Fail puts it in place only while the name is free.
    void OpenOutput(int no, const std::string& path, IfExists ifExists = IfExists::Replace,
                    SpecialFiles special = SpecialFiles::WriteInto);
    // From now on an output opened under `name` is the process's standard
    // output, written as it comes. No name is set at first.
    void SetStandardOutputName(std::string name) { stdoutName_ = std::move(name); }
    bool NamesStandardOutput(const std::string& path) const {
        return !stdoutName_.empty() && path == stdoutName_;
    }

    // True once every byte of input `no` has been read.
    bool Eof(int no);
    // Replaces `line` by the next line of input `no`; throws past the end.
    void LineInput(int no, std::string& line);
    // The next whole lines of input `no` as they are, each with its line end
    // (the last line of the file may have none): at least one line, as many
    // as the buffer holds. Empty at the end, and when the next line is longer
    // than the buffer: `longLine` then tells to read it with StreamLine. The
    // view holds until `no` is read further.
    std::string_view InputLines(int no, bool& longLine);
    // Hands the next line of input `no`, of any length, to `sink` in pieces
    // and skips its line end; returns whether there was one. Throws past the end.
    bool StreamLine(int no, const std::function<void(std::string_view)>& sink);
    // Where in input `no` the next byte is read, and a way back to it.
    std::uint64_t InputPosition(int no);
    void SeekInput(int no, std::uint64_t position);
    // The next unread bytes of input `no` as they are, line ends included;
    // empty at the end. The view holds until `no` is read further or closed.
    std::string_view InputBlock(int no);

    // Writes `text` and CR LF to output `no`.
    void PrintLine(int no, std::string_view text);
    // Writes `bytes` to output `no` as they are.
    void Print(int no, std::string_view bytes);

    // Closes `no`; an output replaces its target now (throws when that fails).
    void Close(int no);
    // Where the output closed last is now (OutputFile::WrittenPath).
    const std::string& LastWrittenPath() const { return lastWritten_; }
    // Closes `no`; an output is dropped and its target left as it was.
    void Abandon(int no);
    // Closes every file; outputs not yet closed are dropped.
    void CloseAll();

private:
    class Reader;
    class Writer;
    struct Slot {
        std::unique_ptr<Reader> in;
        std::unique_ptr<Writer> out;
    };

    Slot& FreeSlot(int no);
    Reader& InputAt(int no);
    Writer& OutputAt(int no);

    std::size_t bufferSize_;
    std::array<Slot, kMaxFileNo + 1> slots_;
    std::string stdoutName_;
    std::string lastWritten_;
};

}  // namespace a5merge
