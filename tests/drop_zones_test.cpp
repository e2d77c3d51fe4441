#include "input/drop_zones.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "merge/writer.h"
#include "platform/text_files.h"
#include "support/fake_form.h"
#include "support/ps_samples.h"
#include "support/temp_folder.h"

namespace a5merge {
namespace {

using testing::AcceptedInput;
using testing::ProgramEnded;
using testing::TempFolder;

class DropZonesTest : public ::testing::Test, protected testing::FakeForm {
protected:
    // Drops `paths` on `zone` and returns the messages shown.
    std::vector<std::string> Drop(Zone zone, std::vector<std::string> paths) {
        desktop.boxes.clear();
        DropOnZone(zone, paths, form);
        for (const auto& box : desktop.boxes) {
            EXPECT_EQ(box.style, 4096);
            EXPECT_FALSE(box.title.has_value());
        }
        return desktop.Texts();
    }

    using Texts = std::vector<std::string>;

    TempFolder dir;
};

TEST_F(DropZonesTest, AcceptedFilesMarkTheirZone) {
    const std::string top = dir.Write("left.ps", AcceptedInput());
    const std::string bottom = dir.Write("RIGHT.PS", AcceptedInput());
    EXPECT_EQ(Drop(Zone::Top, {top}), Texts{});
    EXPECT_EQ(state.topFile, top);
    EXPECT_EQ(state.topOK, 1);
    EXPECT_EQ(captions.captions[Label::lblTop], "OK");
    EXPECT_EQ(state.bottomOK, 0);

    EXPECT_EQ(Drop(Zone::Bottom, {bottom}), Texts{});
    EXPECT_EQ(state.bottomFile, bottom);
    EXPECT_EQ(state.bottomOK, 1);
    EXPECT_EQ(captions.captions[Label::lblBottom], "    OK");
}

TEST_F(DropZonesTest, EachRefusalHasItsMessage) {
    const std::string good = dir.Write("good.ps", AcceptedInput());
    testing::MakeFolder(dir.Path("folder.ps"), true);
    testing::MakeFolder(dir.Path(".hiddenfolder"));
    testing::Hide(dir.Path(".hiddenfolder"));
    testing::MakeFifo(dir.Path("fifo.ps"));  // on Windows: names nothing, refused the same
    testing::MakeLink("/dev/zero", dir.Path("zero.ps"));
    state.bottomFile = dir.Write("b.ps", AcceptedInput());
    state.topFile = good;
    state.outFile = dir.Path("merged.ps");
    WriteMerged(state, files);
    state = MergeState{};
    state.lineBreak = "\r\n";

    struct Case {
        const char* name;
        std::vector<std::string> paths;
        const char* top;
        const char* bottom;
    };
    const Case cases[] = {
        {"two files", {good, good}, "Only one at a time!", "Only one at a time!"},
        {"a read-only folder",
         {dir.Path("folder.ps")},
         "Sorry only files, NO DIR's",
         "Sorry only files, NO DIR's"},
        {"a hidden folder",
         {dir.Path(".hiddenfolder")},
         "Sorry only files, NO DIR's",
         "Sorry only files, NO DIR's"},
        {"another extension",
         {dir.Write("notes.txt", AcceptedInput())},
         "Sorry only *.PS files",
         "Sorry only *.PS files"},
        {"eps is not ps",
         {dir.Write("a.eps", AcceptedInput())},
         "Sorry only *.PS files",
         "Sorry only *.PS files"},
        {"no extension",
         {dir.Write("README", AcceptedInput())},
         "Sorry only *.PS files",
         "Sorry only *.PS files"},
        {"wrong header",
         {dir.Write("bad.ps", "hello\r\n")},
         "TOP.PS file check NOT OK",
         "BOTTOM.PS file check NOT OK"},
        {"no marker",
         {dir.Write("nomark.ps", "%!PS-Adobe\r\n%%Creator: Quobl ZQ9XKV\r\n")},
         "TOP.PS file check NOT OK",
         "BOTTOM.PS file check NOT OK"},
        {"hidden file",
         {testing::Hide(dir.Write(".hidden.ps", AcceptedInput()))},
         "TOP.PS file check NOT OK",
         "BOTTOM.PS file check NOT OK"},
        {"FIFO", {dir.Path("fifo.ps")}, "TOP.PS file check NOT OK", "BOTTOM.PS file check NOT OK"},
        {"link to /dev/zero",
         {dir.Path("zero.ps")},
         "TOP.PS file check NOT OK",
         "BOTTOM.PS file check NOT OK"},
        {"a name holding NUL, its start a good file",
         {good + std::string(1, '\0') + "evil.ps"},
         "TOP.PS file check NOT OK",
         "BOTTOM.PS file check NOT OK"},
        {"vanished",
         {dir.Path("gone.ps")},
         "TOP.PS file check NOT OK",
         "BOTTOM.PS file check NOT OK"},
        {"merged before",
         {dir.Path("merged.ps")},
         "TOP.PS processed before",
         "BOTTOM.PS processed before"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Drop(Zone::Top, c.paths), Texts{c.top}) << c.name;
        EXPECT_EQ(Drop(Zone::Bottom, c.paths), Texts{c.bottom}) << c.name;
        EXPECT_EQ(state.topOK + state.bottomOK, 0) << c.name;
        EXPECT_EQ(state.topFile + state.bottomFile, "") << c.name;
    }
    EXPECT_EQ(captions.captions[Label::lblTop], "TOP");
    EXPECT_EQ(captions.captions[Label::lblBottom], "BOTTOM");
}

TEST_F(DropZonesTest, ExtensionTestIgnoresCase) {
    for (const char* name : {"PAGE.PS", "page.Ps", "page.pS"}) {
        const std::string path = dir.Write(name, AcceptedInput());
        EXPECT_EQ(Drop(Zone::Top, {path}), Texts{}) << name;
        EXPECT_EQ(state.topFile, path);
    }
}

TEST_F(DropZonesTest, ARefusedDropLeavesAnAcceptedZoneAsItWas) {
    const std::string accepted = dir.Write("left.ps", AcceptedInput());
    ASSERT_EQ(Drop(Zone::Top, {accepted}), Texts{});
    const std::string refused[] = {
        dir.Write("notes.txt", "x"),
        testing::Hide(dir.Write(".hidden.ps", AcceptedInput())),
        dir.Write("bad.ps", "x\r\n"),
        dir.Path("gone.ps"),
    };
    for (const auto& path : refused) {
        EXPECT_EQ(Drop(Zone::Top, {path}).size(), 1u) << path;
        EXPECT_EQ(state.topFile, accepted) << path;
        EXPECT_EQ(state.topOK, 1);
        EXPECT_EQ(captions.captions[Label::lblTop], "OK");
    }
    EXPECT_EQ(Drop(Zone::Top, {accepted, accepted}), Texts{"Only one at a time!"});
    EXPECT_EQ(state.topFile, accepted);
}

TEST_F(DropZonesTest, AFileAcceptedLaterReplacesTheEarlierOne) {
    const std::string first = dir.Write("first.ps", AcceptedInput());
    const std::string second = dir.Write("second.ps", AcceptedInput());
    Drop(Zone::Bottom, {first});
    Drop(Zone::Bottom, {second});
    EXPECT_EQ(state.bottomFile, second);
    EXPECT_EQ(state.bottomOK, 1);
}

TEST_F(DropZonesTest, AFileThatVanishedClearsTheFlagsOfTheOneBefore) {
    state.bottomFile = dir.Write("b.ps", AcceptedInput());
    state.topFile = dir.Write("t.ps", AcceptedInput());
    state.outFile = dir.Path("merged.ps");
    WriteMerged(state, files);
    ASSERT_EQ(JudgeDrop({state.outFile}, state, files), DropVerdict::ProcessedBefore);
    EXPECT_EQ(JudgeDrop({dir.Path("gone.ps")}, state, files), DropVerdict::CheckFailed);
    EXPECT_EQ((CheckFlags{state.TEXT723DUMMY, state.dubbel, state.foutefile}), kUnreadable);
}

TEST_F(DropZonesTest, NothingDroppedChangesNothing) {
    EXPECT_EQ(Drop(Zone::Top, {}), Texts{});
    EXPECT_FALSE(desktop.ended.has_value());
    EXPECT_EQ(captions.captions[Label::lblTop], "TOP");
}

TEST_F(DropZonesTest, AShortPathEndsTheProgram) {
    const testing::ShortPathFile shortFile;
    EXPECT_THROW(DropOnZone(Zone::Top, {shortFile.path()}, form), ProgramEnded);
    EXPECT_EQ(desktop.Texts(), Texts{"Invalid file processing detected\r\nProgram will close"});
    EXPECT_EQ(state.topOK, 0);
}

}  // namespace
}  // namespace a5merge
