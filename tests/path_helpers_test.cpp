#include "input/path_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/fake_desktop.h"
#include "support/temp_folder.h"

namespace a5merge {
namespace {

using testing::FakeDesktop;
using testing::ProgramEnded;
using testing::TempFolder;

// Writes a Windows-style table row with `sep` in place of the backslash.
std::string WithSep(std::string text, char sep) {
    std::replace(text.begin(), text.end(), '\\', sep);
    return text;
}

struct SplitCase {
    const char* path;
    const char* pathOnly;
    const char* fileOnly;
    const char* ext;
    const char* dotExt;
    const char* name;  // nullptr: the guard ends the program
};

const SplitCase kSplits[] = {
    {"C:\\jobs\\left.ps", "C:\\jobs", "left.ps", "ps", ".ps", "left"},
    {"C:\\north.ps", "C:", "north.ps", "ps", ".ps", "north"},
    {"C:\\jobs\\a.b.PS", "C:\\jobs", "a.b.PS", "PS", ".PS", "a.b"},
    {"C:\\jobs\\north.", "C:\\jobs", "north.", "", ".", "north"},
    {"C:\\jobs\\maps\\", "C:\\jobs\\maps", "", "C:\\jobs\\maps\\", ".C:\\jobs\\maps\\", ""},
    {"C:\\old.maps\\north", "C:\\old.maps", "north", "maps\\north", ".maps\\north", "north"},
    {"C:\\jobs\\README", "C:\\jobs", "README", "C:\\jobs\\README", ".C:\\jobs\\README", "README"},
    {"north.ps", "", "north.ps", "ps", ".ps", nullptr},
    {"C:\\abcd.ps", "C:", "abcd.ps", "ps", ".ps", nullptr},
    {"C:\\abcde.ps", "C:", "abcde.ps", "ps", ".ps", "abcde"},
    {"", "", "", "", ".", nullptr},
};

TEST(PathHelpersTest, SplitsWithEitherSeparator) {
    MergeState state;
    state.lineBreak = "\r\n";
    for (const char sep : {'\\', '/'}) {
        for (const auto& c : kSplits) {
            const std::string path = WithSep(c.path, sep);
            SCOPED_TRACE("separator " + std::string(1, sep) + ", path " + path);
            EXPECT_EQ(PathOnly(path, sep), WithSep(c.pathOnly, sep));
            EXPECT_EQ(FileOnly(path, sep), WithSep(c.fileOnly, sep));
            EXPECT_EQ(ExtOnly(path, 0), WithSep(c.ext, sep));
            EXPECT_EQ(ExtOnly(path, -1), WithSep(c.dotExt, sep));
            FakeDesktop desktop;
            if (c.name == nullptr) {
                EXPECT_THROW(NameOnly(path, state, desktop, sep), ProgramEnded);
            } else {
                EXPECT_EQ(NameOnly(path, state, desktop, sep), WithSep(c.name, sep));
                EXPECT_TRUE(desktop.boxes.empty());
            }
        }
    }
}

TEST(PathHelpersTest, TheOtherSlashIsAnOrdinaryCharacter) {
    MergeState state;
    FakeDesktop desktop;
    EXPECT_EQ(PathOnly("C:/jobs/left.ps", '\\'), "");
    EXPECT_EQ(FileOnly("C:/jobs/left.ps", '\\'), "C:/jobs/left.ps");
    EXPECT_EQ(NameOnly("C:/jobs/left.ps", state, desktop, '\\'), "C:/jobs/left");
    EXPECT_EQ(PathOnly("/home/a\\b.ps", '/'), "/home");
    const char sep = PlatformSeparator();
    EXPECT_EQ(PathOnly(WithSep("\\home\\jobs\\left.ps", sep)), WithSep("\\home\\jobs", sep))
        << "the platform's separator";
}

TEST(PathHelpersTest, DotCountsAsTrueOnlyAtMinusOne) {
    for (const std::int16_t dot : {0, 1, -2, 32767}) EXPECT_EQ(ExtOnly("a.ps", dot), "ps") << dot;
    EXPECT_EQ(ExtOnly("a.ps", -1), ".ps");
}

TEST(PathHelpersTest, ChangeExtChangesTheCallersExtension) {
    struct Case {
        const char* path;
        const char* newext;
        const char* result;
        const char* newextAfter;
    };
    const Case cases[] = {
        {"C:\\jobs\\left.ps", "eps", "C:\\jobs\\left.eps", ".eps"},
        {"C:\\jobs\\README", "ps", "C:\\jobs\\README.ps", ".ps"},
        {"C:\\jobs\\a.b.PS", "txt", "C:\\jobs\\a.b.txt", ".txt"},
        {"C:\\old.maps\\north", "ps", "C:\\old.ps", ".ps"},
        {"left.ps", "", "left", ""},
        {"left.ps", ".eps", "left..eps", "..eps"},
        {"", "ps", ".ps", ".ps"},
    };
    for (const auto& c : cases) {
        std::string newext = c.newext;
        EXPECT_EQ(ChangeExt(c.path, newext), c.result) << c.path;
        EXPECT_EQ(newext, c.newextAfter) << c.path;
    }
    std::string ext = "ps";
    EXPECT_EQ(ChangeExt("C:\\jobs\\left.ps", ext), "C:\\jobs\\left.ps");
    EXPECT_EQ(ChangeExt("C:\\jobs\\left.ps", ext), "C:\\jobs\\left..ps");
}

TEST(PathHelpersTest, NameOnlyGuardShowsItsMessageAndEnds) {
    MergeState state;
    state.lineBreak = "\r\n";
    FakeDesktop desktop;
    EXPECT_THROW(NameOnly("/tmp/a.ps", state, desktop), ProgramEnded);
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].text, "Invalid file processing detected\r\nProgram will close");
    EXPECT_EQ(desktop.boxes[0].style, 4096);
    EXPECT_FALSE(desktop.boxes[0].title.has_value());
    EXPECT_TRUE(desktop.ended.has_value());
}

TEST(PathHelpersTest, GuardCountsCharactersNotBytes) {
    EXPECT_TRUE(TooShortForNameOnly("/tmp/\xc3\xa9\xc3\xa9.ps"));    // 10 characters, 12 bytes
    EXPECT_FALSE(TooShortForNameOnly("/tmp/\xc3\xa9\xc3\xa9x.ps"));  // 11 characters
    EXPECT_TRUE(TooShortForNameOnly("1234567890"));
    EXPECT_FALSE(TooShortForNameOnly("12345678901"));
}

TEST(PathHelpersTest, FileExistsAndDirExistsFindOrdinaryFilesOnly) {
    TempFolder dir;
    dir.Write("plain.ps", "x");
    dir.Write("locked.ps", "x");
    testing::MakeReadOnly(dir.Path("locked.ps"));
    testing::Hide(dir.Write(".hidden.ps", "x"));
    testing::MakeFolder(dir.Path("folder"));
    const struct {
        const char* name;
        bool exists;
    } cases[] = {{"plain.ps", true}, {"locked.ps", true},   {"missing.ps", false},
                 {"folder", false},  {".hidden.ps", false}, {"p*.ps", true},
                 {"?lain.ps", true}, {"*.eps", false}};
    for (const auto& c : cases) {
        EXPECT_EQ(FileExists(dir.Path(c.name)), c.exists) << c.name;
        EXPECT_EQ(DirExists(dir.Path(c.name)), c.exists) << c.name;
    }
}

}  // namespace
}  // namespace a5merge
