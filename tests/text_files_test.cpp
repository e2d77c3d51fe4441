#include "platform/text_files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>
#ifdef _WIN32
#include "platform/windows_support.h"
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <string>
#include <vector>

#include "platform/runtime_error.h"
#include "support/temp_folder.h"

namespace a5merge {
namespace {

using testing::ReadBytes;
using testing::TempFolder;

std::vector<std::string> ReadLines(TextFiles& files, const std::string& path) {
    const int no = files.FreeFile();
    files.OpenInput(no, path);
    std::vector<std::string> lines;
    std::string line;
    while (!files.Eof(no)) {
        files.LineInput(no, line);
        lines.push_back(line);
    }
    files.Close(no);
    return lines;
}

struct LineCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> lines;
};

TEST(TextFilesTest, SplitsLinesAtCrAndCrLfOnly) {
    const std::vector<LineCase> cases = {
        {"empty file", "", {}},
        {"crlf", "a\r\nb\r\n", {"a", "b"}},
        {"cr only", "a\rb\r", {"a", "b"}},
        {"lf only is one line", "a\nb\nc\n", {"a\nb\nc\n"}},
        {"last line without end", "a\r\nb", {"a", "b"}},
        {"lone empty line", "\r\n", {""}},
        {"cr then crlf", "a\r\r\nb", {"a", "", "b"}},
        {"lf before cr stays in line", "\n\r", {"\n"}},
        {"lf cr lf", "a\n\r\nb", {"a\n", "b"}},
        {"bytes pass unchanged",
         std::string("x\0y\x04\xff\x80z\r\n", 9),
         {std::string("x\0y\x04\xff\x80z", 7)}},
    };
    TempFolder dir;
    TextFiles files;
    for (const auto& c : cases) {
        EXPECT_EQ(ReadLines(files, dir.Write("in", c.bytes)), c.lines) << c.name;
    }
}

TEST(TextFilesTest, BlocksOfLinesHoldWholeLinesWhateverTheBuffer) {
    const std::vector<std::string> inputs = {
        "",
        "a",
        "a\r",
        "a\r\n",
        "\r\n\r\n",
        "ab\r\ncd\ref\r\n",
        "long line here\r\nx",
        "lf\ninside\r\n\n",
        std::string(40, 'z') + "\r\n" + std::string(3, 'y') + "\r",
    };
    TempFolder dir;
    for (std::size_t size = 1; size <= 24; ++size) {
        TextFiles files(size);
        for (const std::string& input : inputs) {
            const std::string path = dir.Write("in", input);
            const auto lines = ReadLines(files, path);
            files.OpenInput(1, path);
            std::string joined;
            for (;;) {
                bool longLine = false;
                const std::string_view block = files.InputLines(1, longLine);
                if (longLine) {  // streamed instead, in pieces no larger than the buffer
                    const bool ended = files.StreamLine(1, [&](std::string_view piece) {
                        EXPECT_LE(piece.size(), size);
                        joined.append(piece);
                    });
                    if (ended) joined.append("\r\n");
                    continue;
                }
                if (block.empty()) break;
                joined.append(block);
                // A block ends with a line end unless it holds the file's last line.
                const bool ended = block.back() == '\r' || block.back() == '\n';
                EXPECT_TRUE(ended || files.Eof(1)) << "size " << size << ": " << input;
            }
            files.Close(1);
            TextFiles plain;
            EXPECT_EQ(ReadLines(plain, dir.Write("joined", joined)), lines)
                << "size " << size << ": " << input;
        }
    }
}

TEST(TextFilesTest, LinesCrossingTheBufferStayWhole) {
    // A CR LF split across a buffer boundary, and a line longer than the buffer.
    constexpr std::size_t kBuffer = 256 * 1024;
    const std::string first(kBuffer - 1, 'a');  // its CR is the buffer's last byte
    const std::string second(3 * kBuffer + 17, 'b');
    TempFolder dir;
    TextFiles files;
    const auto lines = ReadLines(files, dir.Write("in", first + "\r\n" + second + "\r\nend"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], first);
    EXPECT_EQ(lines[1], second);
    EXPECT_EQ(lines[2], "end");
}

TEST(TextFilesTest, InputCanBeReadAgainFromAPosition) {
    TempFolder dir;
    const std::string path = dir.Write("in", "first\r\nsecond line\r\nthird");
    for (std::size_t size : {std::size_t{1}, std::size_t{4}, TextFiles::kDefaultBufferSize}) {
        TextFiles files(size);
        files.OpenInput(1, path);
        std::string line;
        files.LineInput(1, line);
        const std::uint64_t mark = files.InputPosition(1);
        EXPECT_EQ(mark, 7u);
        files.LineInput(1, line);
        EXPECT_EQ(line, "second line");
        files.SeekInput(1, mark);
        std::string streamed;
        EXPECT_TRUE(files.StreamLine(1, [&](std::string_view piece) { streamed.append(piece); }));
        EXPECT_EQ(streamed, "second line");
        streamed.clear();
        EXPECT_FALSE(files.StreamLine(1, [&](std::string_view piece) { streamed.append(piece); }));
        EXPECT_EQ(streamed, "third");
        EXPECT_TRUE(files.Eof(1));
    }
}

TEST(TextFilesTest, ReadingPastTheEndFails) {
    TempFolder dir;
    const std::string path = dir.Write("one", "only\r\n");
    TextFiles files;
    files.OpenInput(1, path);
    std::string line;
    files.LineInput(1, line);
    EXPECT_TRUE(files.Eof(1));
    EXPECT_THROW(files.LineInput(1, line), RuntimeError);
}

TEST(TextFilesTest, WritesEveryLineWithCrLfAndBytesUnchanged) {
    TempFolder dir;
    const std::string path = dir.Path("out");
    const std::string big(600 * 1024, 'x');
    TextFiles files;
    files.OpenOutput(1, path);
    files.PrintLine(1, "first");
    files.PrintLine(1, "");
    files.PrintLine(1, std::string("\0\x04\xfe\n", 4));
    files.PrintLine(1, big);
    files.PrintLine(1, "last");
    files.Close(1);
    EXPECT_EQ(ReadBytes(path),
              "first\r\n\r\n" + std::string("\0\x04\xfe\n", 4) + "\r\n" + big + "\r\nlast\r\n");
}

TEST(TextFilesTest, OutputReplacesItsTargetOnlyWhenClosed) {
    TempFolder dir;
    const std::string path = dir.Write("out", "old");
    TextFiles files;

    files.OpenOutput(1, path);
    files.PrintLine(1, "new");
    EXPECT_EQ(ReadBytes(path), "old");
    files.Abandon(1);
    EXPECT_EQ(ReadBytes(path), "old");

    files.OpenOutput(1, path);
    files.PrintLine(1, "new");
    files.CloseAll();
    EXPECT_EQ(ReadBytes(path), "old");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out"}) << "no temporary file is left";

    files.OpenOutput(1, path);
    files.PrintLine(1, "new");
    files.Close(1);
    EXPECT_EQ(ReadBytes(path), "new\r\n");
}

TEST(TextFilesTest, OfTwoOutputsToAFreeNameOnlyTheFirstClosedTakesIt) {
    TempFolder dir;
    const std::string path = dir.Path("new.PS");
    TextFiles files;
    files.OpenOutput(1, path, IfExists::Fail);
    files.OpenOutput(2, path, IfExists::Fail);
    files.PrintLine(1, "first");
    files.PrintLine(2, "second");
    files.Close(1);
    try {
        files.Close(2);
        FAIL() << "the second output replaced the first";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.systemError(), EEXIST);
        EXPECT_EQ(e.path(), path);
    }
    EXPECT_EQ(ReadBytes(path), "first\r\n");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"new.PS"}) << "no temporary file is left";
}

#ifndef _WIN32
// Mode bits, owner, group and hard links of a file replaced, as root and as
// the file's own unprivileged owner (who may not set its group).
TEST(TextFilesTest, AReplacedFileKeepsWhatWasSetOnIt) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to give files to other users";
    }
    constexpr uid_t kNobody = 65534;
    constexpr gid_t kUsers = 100;
    struct Case {
        const char* name;
        mode_t mode;
        bool secondLink;
        bool asOwner;  // rewritten by nobody, who is not in the group
    };
    const Case cases[] = {
        {"read-only", 0444, false, false},
        {"setgid, setuid and sticky", 07640, false, false},
        {"group the writer is not in", 0660, false, true},
        {"a second hard link", 0640, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder dir;
        dir.OpenToAll();
        const std::string path = dir.Write("out.PS", "old");
        ASSERT_EQ(::chown(dir.Path("").c_str(), kNobody, kUsers), 0);
        ASSERT_EQ(::chown(path.c_str(), kNobody, kUsers), 0);
        ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
        if (c.secondLink) {
            ASSERT_EQ(::link(path.c_str(), dir.Path("link.PS").c_str()), 0);
        }
        struct stat before {};
        ASSERT_EQ(::stat(path.c_str(), &before), 0);

        const auto rewrite = [&] {
            TextFiles files;
            files.OpenOutput(1, path);
            files.PrintLine(1, "new");
            files.Close(1);
            return 0;
        };
        ASSERT_EQ(c.asOwner ? testing::AsUnprivileged(rewrite) : rewrite(), 0);

        struct stat after {};
        ASSERT_EQ(::stat(path.c_str(), &after), 0);
        EXPECT_EQ(ReadBytes(path), "new\r\n");
        EXPECT_EQ(after.st_mode & 07777, before.st_mode & 07777);
        EXPECT_EQ(after.st_uid, kNobody);
        EXPECT_EQ(after.st_gid, kUsers);
        if (c.secondLink) {
            EXPECT_EQ(after.st_ino, before.st_ino);
            EXPECT_EQ(ReadBytes(dir.Path("link.PS")), "new\r\n");
        }
    }
}
#else
// What Windows keeps of a file replaced: its attributes (ReplaceFileW); a
// read-only file is refused with the reason, and nothing is touched.
TEST(TextFilesTest, AReplacedFileKeepsWhatWasSetOnIt) {
    TempFolder dir;
    const std::string hidden = dir.Write("hidden.PS", "old");
    ::SetFileAttributesW(windows::Wide(hidden).c_str(), FILE_ATTRIBUTE_HIDDEN);
    TextFiles files;
    files.OpenOutput(1, hidden);
    files.PrintLine(1, "new");
    files.Close(1);
    EXPECT_EQ(ReadBytes(hidden), "new\r\n");
    EXPECT_NE(::GetFileAttributesW(windows::Wide(hidden).c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);

    const std::string locked = dir.Write("locked.PS", "old");
    testing::MakeReadOnly(locked);
    files.OpenOutput(1, locked);
    files.PrintLine(1, "new");
    try {
        files.Close(1);
        FAIL() << "a read-only file was replaced";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.reason(), "is read-only; nothing was written");
    }
    EXPECT_EQ(ReadBytes(locked), "old");
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"hidden.PS", "locked.PS"}));
}
#endif

TEST(TextFilesTest, FileNumbersAreTheLowestFree) {
    TempFolder dir;
    const std::string path = dir.Write("in", "x");
    TextFiles files;
    EXPECT_EQ(files.FreeFile(), 1);
    files.OpenInput(1, path);
    files.OpenInput(2, path);
    EXPECT_EQ(files.FreeFile(), 3);
    files.Close(1);
    EXPECT_EQ(files.FreeFile(), 1);
    EXPECT_THROW(files.OpenInput(2, path), std::logic_error);
    EXPECT_THROW(files.PrintLine(2, "x"), std::logic_error);

    for (int no = 1; no <= TextFiles::kMaxFileNo; ++no) {
        if (!files.IsOpen(no)) files.OpenInput(no, path);
    }
    EXPECT_THROW(files.FreeFile(), RuntimeError);
    files.CloseAll();
    EXPECT_EQ(files.FreeFile(), 1);
}

TEST(TextFilesTest, OpeningFailsWithPathAndSystemReason) {
    TempFolder dir;
    TextFiles files;
    try {
        files.OpenInput(1, dir.Path("missing.ps"));
        FAIL() << "opened a missing file";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.path(), dir.Path("missing.ps"));
        EXPECT_EQ(e.reason(), testing::NotFoundReason());
        EXPECT_EQ(e.systemError(), ENOENT);
    }
    EXPECT_THROW(files.OpenOutput(1, dir.Path("no/such/folder/out.ps")), RuntimeError);
    EXPECT_FALSE(files.IsOpen(1));
}

TEST(TextFilesTest, OnlyRegularFilesOpenForInputAndNothingBlocks) {
    TempFolder dir;
    testing::MakeFifo(dir.Path("fifo.ps"));
    testing::MakeLink("/dev/zero", dir.Path("zero.ps"));
    testing::MakeFolder(dir.Path("folder.ps"));
    TextFiles files;
    // On Windows no FIFO or link is made (the names are free); its devices
    // have names of their own, in any folder.
    for (const char* name : {"fifo.ps", "zero.ps", "folder.ps", "nul.ps", "CON"}) {
        EXPECT_THROW(files.OpenInput(1, dir.Path(name)), RuntimeError) << name;
        EXPECT_FALSE(files.IsOpen(1));
    }
}

#ifndef _WIN32
// A FIFO output is closed once written, so that its reader sees the end
// while the writing program goes on (as the window would).
TEST(TextFilesTest, AFifoOutputIsClosedOnceWritten) {
    TempFolder dir;
    const std::string fifo = dir.Path("fifo.PS");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    testing::FifoReader reader(fifo);
    TextFiles files;
    files.OpenOutput(1, fifo);
    files.PrintLine(1, "the sheet");
    files.Close(1);
    EXPECT_TRUE(reader.Finish()) << "the FIFO was left open";
    EXPECT_EQ(reader.received(), "the sheet\r\n");
}
#endif

}  // namespace
}  // namespace a5merge
