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

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/output_sink.h"
#include "platform/placement.h"
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

// A spool past its memory keeps every byte in order, in a file of its own.
TEST(TextFilesTest, ASpoolKeepsItsBytesInOrder) {
    Spool spool(4);
    for (const char* piece : {"ab", "efg", "h", "", "ij"}) spool.Append(piece);
    std::string kept;
    spool.ForEach([&kept](std::string_view piece) { kept += piece; });
    EXPECT_EQ(kept, "abefghij");
    Spool big(1);
    const std::string many(200 * 1024, 'x');
    big.Append("<");
    big.Append(many);
    big.Append(">");
    kept.clear();
    big.ForEach([&kept](std::string_view piece) { kept += piece; });
    EXPECT_TRUE(kept == "<" + many + ">");
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

// What ReplaceFileW may answer on Windows and wine never does, each with
// what Microsoft's page says it did to the files by then: the target keeps
// its old sheet (put back when it had been moved aside), or, when neither
// sheet can be put under its name, the failure names where both are whole
// and nothing of either is removed. A failure that may be another
// program's brief hold is tried again, the old sheet put back first after
// 1177. The system's calls are the tests' own here.
namespace replacing {
DWORD answer = 0;
bool movesAside = false;  // 1177: the old file is under the backup name already
bool holdsBoth = false;   // ...and other programs hold both for good
bool holdsNew = false;    // another program holds the new file for good; the real call answers
int calls = 0;
bool recorded = false;  // the new file's name was written down before it was asked for
std::vector<windows::Handle> holders;

// Whether a record of a private folder in TEMP names `file`.
bool Recorded(LPCWSTR file) {
    const std::string name = windows::Narrow(file);
    for (const auto& entry :
         std::filesystem::directory_iterator(testing::Native(TemporaryFolder()))) {
        const std::filesystem::path record = entry.path() / kPlacementRecord;
        std::error_code missing;
        if (entry.path().filename().string().rfind("a5merge-", 0) != 0 ||
            !std::filesystem::exists(record, missing)) {
            continue;
        }
        if (ReadBytes(windows::Narrow(record.wstring())).find(name) != std::string::npos)
            return true;
    }
    return false;
}

BOOL WINAPI Fails(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR backup, DWORD flags, LPVOID,
                  LPVOID) {
    ++calls;
    recorded = recorded || Recorded(replacement);
    if (holdsNew) {
        if (holders.empty()) {
            holders.emplace_back(::CreateFileW(replacement, GENERIC_READ,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
        }
        return ::ReplaceFileW(replaced, replacement, backup, flags, nullptr, nullptr);
    }
    if (movesAside) ::MoveFileExW(replaced, backup, 0);
    if (holdsBoth) {
        for (LPCWSTR name : {backup, replacement}) {
            holders.emplace_back(::CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
        }
    }
    ::SetLastError(answer);
    return FALSE;
}
}  // namespace replacing

TEST(TextFilesTest, WhatReplaceFileMayAnswerLeavesTheOldOrTheNewSheet) {
    const auto real = windows::Calls().replaceFile;
    windows::Calls().replaceFile = replacing::Fails;
    TempFolder temporary;  // where the records go
    testing::SetEnvironment("TMP", temporary.Path("").c_str());
    const struct {
        DWORD answer;
        bool movesAside, holdsBoth, holdsNew;
        bool triedAgain;
        const char* reasonEnd;  // of the failure's reason
    } cases[] = {
        {ERROR_UNABLE_TO_REMOVE_REPLACED, false, false, false, true,
         " (another program holds it open); nothing was written"},
        {ERROR_UNABLE_TO_MOVE_REPLACEMENT, false, false, false, true, "; nothing was written"},
        {ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, true, false, false, true, "; nothing was written"},
        {ERROR_INVALID_PARAMETER, false, false, false, false, "; nothing was written"},
        {ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, true, true, false, false, ""},
        {0, false, false, true, true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.answer) + (c.holdsBoth  ? ", both held"
                                                 : c.holdsNew ? ", the new one held"
                                                              : ""));
        replacing::answer = c.answer;
        replacing::movesAside = c.movesAside;
        replacing::holdsBoth = c.holdsBoth;
        replacing::holdsNew = c.holdsNew;
        replacing::calls = 0;
        replacing::recorded = false;
        TempFolder dir;
        const std::string target = dir.Write("sheet.PS", "old");
        TextFiles files;
        files.OpenOutput(1, target);
        files.PrintLine(1, "new");
        std::string reason;
        try {
            files.Close(1);
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.path(), target);
            reason = e.reason();
        }
        EXPECT_EQ(replacing::calls > 1, c.triedAgain) << replacing::calls << " calls";
        EXPECT_TRUE(replacing::recorded) << "not written down before it took the target's name";
        const std::vector<std::string> left = dir.Entries();
        if (c.holdsNew) {
            // Refused, naming the file held, which stays for the next run.
            ASSERT_EQ(left.size(), 2u);
            EXPECT_TRUE(reason.ends_with(" (another program holds its new sheet, " +
                                         dir.Path(left[0]) + ", open); nothing was written"))
                << reason;
            EXPECT_EQ(ReadBytes(target), "old");
            // Its record too, for the run that removes it.
            std::vector<std::string> records;
            for (const std::string& name : temporary.Entries()) {
                if (std::filesystem::exists(testing::Native(temporary.Path(name + "\\placing")))) {
                    records.push_back(name);
                }
            }
            EXPECT_EQ(records.size(), 1u) << "the record of the held new sheet was not kept";
            replacing::holders.clear();
            continue;
        }
        if (!c.holdsBoth) {
            EXPECT_EQ(reason.rfind(windows::SystemReason(c.answer), 0), 0u) << reason;
            EXPECT_TRUE(reason.ends_with(c.reasonEnd)) << reason;
            EXPECT_EQ(ReadBytes(target), "old");
            EXPECT_EQ(left, std::vector<std::string>{"sheet.PS"});
            continue;
        }
        // Neither could be moved back: both are named, whole, and stay.
        ASSERT_EQ(left.size(), 2u);
        const std::string aside = dir.Path(left[1]), fresh = dir.Path(left[0]);
        EXPECT_EQ(reason, windows::SystemReason(c.answer) +
                              "; nothing is under its name now: the old sheet is in " + aside +
                              " and the whole new sheet is in " + fresh);
        replacing::holders.clear();
        EXPECT_EQ(ReadBytes(aside), "old");
        EXPECT_EQ(ReadBytes(fresh), "new\r\n");
    }
    testing::SetEnvironment("TMP", nullptr);
    windows::Calls().replaceFile = real;
}

// The temporary folder is read at any length: GetTempPathW answers with the
// room it needs when that is more than MAX_PATH (a TEMP of 300 characters;
// wine passes over such a TEMP, so the call is the test's own here).
namespace temporaries {
const std::wstring kLong = L"C:\\" + std::wstring(296, L't') + L"\\";
DWORD WINAPI LongTemp(DWORD room, LPWSTR buffer) {
    if (room <= kLong.size()) return static_cast<DWORD>(kLong.size() + 1);
    std::copy(kLong.c_str(), kLong.c_str() + kLong.size() + 1, buffer);
    return static_cast<DWORD>(kLong.size());
}
}  // namespace temporaries

TEST(TextFilesTest, TheTemporaryFolderIsReadAtAnyLength) {
    const auto real = windows::Calls().getTempPath;
    windows::Calls().getTempPath = temporaries::LongTemp;
    const std::string folder = TemporaryFolder();
    windows::Calls().getTempPath = real;
    EXPECT_EQ(folder, "C:\\" + std::string(296, 't'));
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

// The record of a placement reads back as written, whatever its paths hold;
// a record cut short or changed reads as none.
// What an output says when the sheet does not reach its place, word for
// word, on every system.
TEST(PlacementTest, WhatIsSaidWhenTheSheetDoesNotTakeItsPlace) {
    const struct {
        std::string said, expected;
    } cases[] = {
        {NothingWritten("Disk full"), "Disk full; nothing was written"},
        {NoRoomBesideHardLinked(3, "Permission denied"),
         "has 3 hard links, so it is rewritten in place, with the whole new sheet kept beside it "
         "meanwhile; this user may not make that file in its folder (Permission denied), so "
         "nothing was written"},
        {CannotRewriteInPlace(2),
         "has 2 hard links and this user may not write it, so it cannot be rewritten in place; "
         "nothing was written"},
        {CannotRewriteInPlace(1),
         "belongs to another user or group and this user may not write it; a new file would "
         "change its owner, so nothing was written"},
        {WholeSheetKeptIn("No space left on device", "/d/s.ps.a5merge-new"),
         "No space left on device; the whole new sheet is in /d/s.ps.a5merge-new"},
        {CopyName("s.ps", 1), "s.ps.a5merge-new"},
        {CopyName("s.ps", kCopyNames), "s.ps.a5merge-new-9"},
        {EveryCopyNameTaken("s.ps"),
         "every name for its new sheet beside it (s.ps.a5merge-new to -9) is taken; nothing was "
         "written"},
        {HeldByAnotherProgram("In use"),
         "In use (another program holds it open); nothing was written"},
        {HeldByAnotherProgram("In use", "C:\\d\\.a5merge-1"),
         "In use (another program holds its new sheet, C:\\d\\.a5merge-1, open); nothing was "
         "written"},
        {LeftAfterFailedReplacement("Denied; nothing was written", true, "C:\\o", "C:\\n"),
         "Denied; nothing is under its name now: the old sheet is in C:\\o and the whole new sheet "
         "is in C:\\n"},
        {LeftAfterFailedReplacement("Denied", false, "C:\\o", ""),
         "Denied; something else is under its name now: the old sheet is in C:\\o"},
        {LeftAfterFailedReplacement("Denied; nothing was written", false, "", "C:\\n"),
         "Denied; something else is under its name now: the whole new sheet is in C:\\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.said, c.expected);
}

TEST(PlacementTest, RecordsReadBackWholeOrNotAtAll) {
    Placement placement;
    placement.target = "/a folder/with\nnew line and \"quotes\"/sheet.PS";
    placement.fresh = "/a folder/.a5merge-0123abcd";
    placement.freshId = {7, 1ull << 40};
    placement.whole = true;
    placement.aside = "C:\\jobs\\.a5merge-0123abcd.old";
    placement.oldId = FileIdentity{7, 42};
    const std::string text = RecordText(placement);
    const std::optional<Placement> back = ParseRecord(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->target, placement.target);
    EXPECT_EQ(back->fresh, placement.fresh);
    EXPECT_EQ(back->freshId, placement.freshId);
    EXPECT_TRUE(back->whole);
    EXPECT_EQ(back->aside, placement.aside);
    EXPECT_EQ(back->oldId, placement.oldId);
    placement.whole = false;
    placement.aside.clear();
    placement.oldId.reset();
    const std::optional<Placement> partial = ParseRecord(RecordText(placement));
    ASSERT_TRUE(partial);
    EXPECT_FALSE(partial->whole);
    EXPECT_FALSE(partial->oldId);
    for (std::size_t cut = 0; cut < text.size(); ++cut) {
        EXPECT_FALSE(ParseRecord(text.substr(0, cut))) << "cut at " << cut;
    }
    std::string changed = text;
    changed[changed.find("fresh ") + 6] = '9';  // a length that does not fit
    EXPECT_FALSE(ParseRecord(changed));
    EXPECT_FALSE(ParseRecord(text + "x"));
}

// However a run that put a new sheet in place ended, the rule leaves the
// target with the old or the new sheet, removes only the files recorded as
// ours, and never removes one while the target holds no sheet.
TEST(PlacementTest, SettlingLeavesTheOldOrTheNewSheet) {
    enum Target { Missing, Old, New, Other };
    const struct {
        const char* name;
        Target target;
        bool fresh;  // the new sheet still under our name
        bool aside;  // the old one under ours
        bool whole;
        bool lookAlikes;  // our names hold files of another's
        Settled how;
        const char* atTarget;  // nullptr: nothing
        bool freshLeft, asideLeft;
    } cases[] = {
        {"replaced, the old one not yet removed", New, false, true, true, false, Settled::Placed,
         "new", false, false},
        {"killed before the new one took the name", Old, true, false, true, false, Settled::Kept,
         "old", false, false},
        {"killed between the two renames", Missing, true, true, true, false, Settled::Restored,
         "old", false, false},
        {"the old one gone by another's hand", Missing, true, false, true, false, Settled::Placed,
         "new", false, false},
        {"a part of a sheet", Missing, true, false, false, false, Settled::Kept, nullptr, false,
         false},
        {"another's file at the target", Other, true, true, true, false, Settled::Kept, "other",
         false, true},
        {"files of ours by name only", Old, false, false, true, true, Settled::Kept, "old", true,
         true},
        {"files of ours by name only, no target", Missing, false, false, true, true, Settled::Kept,
         nullptr, true, true},
        {"nothing left", Missing, false, false, true, false, Settled::Kept, nullptr, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder dir;
        Placement placement;
        placement.target = dir.Path("sheet.PS");
        placement.fresh = dir.Path(".a5merge-0123abcd");
        placement.aside = dir.Path(".a5merge-0123abcd.old");
        placement.whole = c.whole;
        const std::string freshPath = dir.Write("made.new", "new");
        placement.freshId = *IdentityOf(freshPath);
        const std::string oldPath = dir.Write("made.old", "old");
        placement.oldId = *IdentityOf(oldPath);
        const auto move = [](const std::string& from, const std::string& to) {
            std::filesystem::rename(testing::Native(from), testing::Native(to));
        };
        if (c.target == New) move(freshPath, placement.target);
        if (c.fresh) move(freshPath, placement.fresh);
        if (c.target == Old) move(oldPath, placement.target);
        if (c.aside) move(oldPath, placement.aside);
        if (c.target == Other) dir.Write("sheet.PS", "other");
        if (c.lookAlikes) {  // the same names, other files
            dir.Write(".a5merge-0123abcd", "a user's");
            dir.Write(".a5merge-0123abcd.old", "a user's too");
        }
        const Settlement settled = Settle(placement);
        EXPECT_EQ(static_cast<int>(settled.how), static_cast<int>(c.how));
        EXPECT_FALSE(settled.leftovers);
        if (c.atTarget != nullptr) {
            EXPECT_EQ(ReadBytes(placement.target), c.atTarget);
        } else {
            EXPECT_FALSE(std::filesystem::exists(testing::Native(placement.target)));
        }
        EXPECT_EQ(std::filesystem::exists(testing::Native(placement.fresh)), c.freshLeft);
        EXPECT_EQ(std::filesystem::exists(testing::Native(placement.aside)), c.asideLeft);
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
