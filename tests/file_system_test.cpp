#include "platform/file_system.h"

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/runtime_error.h"
#include "support/temp_folder.h"

namespace a5merge {
namespace {

using testing::AsUnprivileged;
using testing::TempFolder;

class FileSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir.Write("plain.ps", "x");
        dir.Write(".hidden.ps", "x");
        dir.Write("b[1].ps", "x");
        ASSERT_EQ(::mkdir(dir.Path("folder.ps").c_str(), 0700), 0);
        ASSERT_EQ(::mkdir(dir.Path(".config").c_str(), 0700), 0);
        ASSERT_EQ(::mkfifo(dir.Path("fifo.ps").c_str(), 0600), 0);
        ASSERT_EQ(::symlink("plain.ps", dir.Path("link.ps").c_str()), 0);
        ASSERT_EQ(::symlink("/dev/zero", dir.Path("zero.ps").c_str()), 0);
        ASSERT_EQ(::symlink("gone.ps", dir.Path("dangling.ps").c_str()), 0);
    }

    TempFolder dir;
};

TEST_F(FileSystemTest, DirFindsOnlyOrdinaryFiles) {
    struct Case {
        const char* pattern;
        const char* found;
    };
    const Case cases[] = {
        {"plain.ps", "plain.ps"},
        {"link.ps", "link.ps"},  // a link to a regular file
        {"b[1].ps", "b[1].ps"},  // brackets are literal
        {".hidden.ps", ""},
        {"folder.ps", ""},
        {"fifo.ps", ""},
        {"zero.ps", ""},
        {"dangling.ps", ""},
        {"missing.ps", ""},
        {"", ""},
        {"p*.ps", "plain.ps"},
        {"pla?n.ps", "plain.ps"},
        {"*den.ps", ""},  // the only match is hidden
        {"f*", ""},       // a folder and a FIFO
        {"*.PS", ""},     // case counts
        {"q*", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Dir(dir.Path(c.pattern)), c.found) << c.pattern;
    }
}

TEST_F(FileSystemTest, DirWithoutFolderLooksInTheCurrentOne) {
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path(""));
    EXPECT_EQ(Dir("plain.ps"), "plain.ps");
    EXPECT_EQ(Dir("pl*"), "plain.ps");
    std::filesystem::current_path(before);
}

TEST_F(FileSystemTest, AnExactNameIsFoundInAFolderThatCannotBeListed) {
    ::mkdir(dir.Path("closed").c_str(), 0711);  // may be entered, not listed
    dir.Write("closed/a*b?.ps", "x");
    ::chmod(dir.Path("closed/a*b?.ps").c_str(), 0644);
    dir.OpenToAll();
    const std::string path = dir.Path("closed/a*b?.ps");
    EXPECT_EQ(AsUnprivileged([&] { return Dir(path) == "a*b?.ps" ? 0 : 1; }), 0);
}

TEST_F(FileSystemTest, AttributesOfFoldersAndHiddenEntries) {
    EXPECT_EQ(GetAttr(dir.Path("plain.ps")), 0);
    EXPECT_EQ(GetAttr(dir.Path("folder.ps")), kAttrDirectory);
    EXPECT_EQ(GetAttr(dir.Path(".hidden.ps")), kAttrHidden);
    EXPECT_EQ(GetAttr(dir.Path(".config")), kAttrDirectory | kAttrHidden);
    EXPECT_EQ(GetAttr(dir.Path("folder.ps/")), kAttrDirectory);
    EXPECT_THROW(GetAttr(dir.Path("missing.ps")), RuntimeError);
    EXPECT_THROW(GetAttr(dir.Path("dangling.ps")), RuntimeError);
}

TEST_F(FileSystemTest, ReadOnlyIsWhatTheUserMayNotWrite) {
    ::chmod(dir.Path("plain.ps").c_str(), 0444);
    dir.OpenToAll();
    const std::string path = dir.Path("plain.ps");
    EXPECT_EQ(AsUnprivileged([&] { return GetAttr(path); }), kAttrReadOnly);
}

// A private folder: only this user may enter it, it carries its mark, and
// it goes, with what it holds, when dropped.
TEST_F(FileSystemTest, APrivateFolderIsOnlyThisUsersUntilDropped) {
    const std::string temporary = dir.Path("temporary");
    ASSERT_EQ(::mkdir(temporary.c_str(), 0777), 0);
    const char* was = std::getenv("TMPDIR");
    const std::string before = was == nullptr ? "" : was;
    ::setenv("TMPDIR", temporary.c_str(), 1);
    std::string path;
    {
        PrivateFolder folder;
        path = folder.path();
        folder.SetFile("sheet.ps", "a sheet");
        struct stat st {};
        ASSERT_EQ(::lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_TRUE(std::filesystem::exists(folder.Path(".a5merge-folder")));
    }
    if (was == nullptr) ::unsetenv("TMPDIR");
    else ::setenv("TMPDIR", before.c_str(), 1);
    EXPECT_EQ(path.rfind(temporary + "/a5merge-", 0), 0u) << path;
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace a5merge
