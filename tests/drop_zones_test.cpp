#include "input/drop_zones.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "handlers/form1_design.h"
#include "handlers/form_handlers.h"
#include "handlers/hand_overs.h"
#include "input/path_helpers.h"
#include "merge/writer.h"
#include "platform/child_watch.h"
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

// Where each hand-over goes, and which are refused: a file manager opening
// two files starts a copy for each, a moment apart.
TEST(HandOversTest, FilesStartedTogetherFillBothZones) {
    using std::chrono::milliseconds;
    HandOvers::Clock::time_point now{};
    int asked = 0;
    HandOvers handOvers([&] { ++asked; }, [&] { return now; });
    enum From { Own, Another };
    enum Goes { Refused, Top, Bottom };
    struct Step {
        int atMs;
        int files;
        From from;
        Goes goes;
        const char* what;
    } steps[] = {
        {0, 1, Own, Top, "its own file, before it shows"},
        {100, 1, Another, Refused, "another copy's, before it shows"},
        {300, 1, Another, Bottom, "shown: the second of two"},
        {400, 1, Another, Top, "a third starts anew"},
        {3400, 1, Another, Bottom, "just within the moment"},
        {3500, 1, Another, Top, ""},
        {6501, 1, Another, Top, "just past the moment"},
        {6600, 2, Another, Top, "two at once"},
        {6700, 1, Another, Top, "one after two"},
        {20000, 1, Another, Top, "much later"},
    };
    for (const Step& step : steps) {
        if (step.atMs == 300) handOvers.Shown();
        now = HandOvers::Clock::time_point{} + milliseconds(step.atMs);
        std::vector<std::string> files(static_cast<std::size_t>(step.files), "C:\\x.ps");
        const bool taken =
            step.from == Own ? handOvers.Add(files) : handOvers.FromAnotherCopy(files);
        EXPECT_EQ(taken, step.goes != Refused) << step.atMs << " ms: " << step.what;
        if (!taken || step.atMs == 0) continue;
        const std::optional<HandOvers::HandOver> next = handOvers.TakeNext();
        ASSERT_TRUE(next.has_value()) << step.atMs;
        if (step.atMs == 300) {  // its own file first
            EXPECT_EQ(next->first, Zone::Top);
            ASSERT_TRUE(handOvers.TakeNext().has_value());
            continue;
        }
        EXPECT_EQ(next->first, step.goes == Top ? Zone::Top : Zone::Bottom)
            << step.atMs << " ms: " << step.what;
        EXPECT_EQ(next->files.size(), static_cast<std::size_t>(step.files));
    }
    EXPECT_GT(asked, 0);

    // While it asks whether to end, and once it is closing, none come.
    handOvers.AskingToEnd(true);
    EXPECT_FALSE(handOvers.FromAnotherCopy({"C:\\x.ps"}));
    handOvers.AskingToEnd(false);
    EXPECT_TRUE(handOvers.FromAnotherCopy({"C:\\x.ps"}));
    handOvers.Closing();
    EXPECT_FALSE(handOvers.FromAnotherCopy({"C:\\x.ps"}));
    EXPECT_FALSE(handOvers.Add({"C:\\x.ps"}));
    EXPECT_EQ(handOvers.waiting(), 1u);
}

// EXIT's question refuses what another copy hands over while it is open:
// that copy keeps its files (and runs its own window once this one ends).
TEST(HandOversTest, NoneAreTakenWhileTheWindowAsksWhetherToEnd) {
    struct AskingDesktop : testing::FakeDesktop {
        std::function<void()> duringBox;
        int MsgBox(const std::string& text, int style,
                   const std::optional<std::string>& title = std::nullopt) override {
            if (duringBox) duringBox();
            return FakeDesktop::MsgBox(text, style, title);
        }
    } desktop;
    TextFiles files;
    testing::ScriptedInstances firstCopy(false);
    testing::FakeCaptions captions;
    int later = 0;
    FormHandlers handlers(
        desktop, files, firstCopy, captions, [&] { ++later; }, nullptr);
    handlers.Load();
    handlers.Shown();
    std::vector<bool> taken;
    desktop.duringBox = [&] { taken.push_back(handlers.TakeFilesFromAnotherCopy({"C:\\x.ps"})); };
    desktop.answers = {kIdCancel};
    handlers.cmdExit_Click();
    EXPECT_EQ(taken, std::vector<bool>{false});
    EXPECT_TRUE(handlers.TakeFilesFromAnotherCopy({"C:\\y.ps"})) << "the question was answered";
    desktop.answers = {kIdOk};
    EXPECT_THROW(handlers.cmdExit_Click(), ProgramEnded);
    EXPECT_FALSE(handlers.TakeFilesFromAnotherCopy({"C:\\z.ps"})) << "it ends";
}

// A zone remembers why the last file given to it was refused (as --check
// says it, with the file's name) until it accepts one; each zone its own.
// A caption shrinks in quarter points until it fits, never below 4 points.
TEST(HandOversTest, CaptionsShrinkUntilTheyFit) {
    const struct {
        double designed, fitsFrom, fitted;
    } cases[] = {{8.25, 99, 8.25}, {8.25, 8.0, 8.0}, {9.75, 6.1, 6.0}, {20.25, 0, 4.0}, {4, 0, 4}};
    for (const auto& c : cases) {
        int tries = 0;
        const double fitted = FittedPoints(c.designed, [&](double points) {
            ++tries;
            return points <= c.fitsFrom;
        });
        EXPECT_DOUBLE_EQ(fitted, c.fitted) << c.designed << " fits from " << c.fitsFrom;
        EXPECT_GE(tries, c.designed > 4 ? 1 : 0);
    }
    EXPECT_EQ(ZoneAccessibleName(Zone::Top, {}), "TOP drop zone, no file");
}

// A pasted text names one file: on one line, white space around it dropped;
// Linux wants an absolute path or a file: URI of this machine, Windows any
// name, its double quotes dropped.
TEST(HandOversTest, APastedTextNamesOneFile) {
    constexpr auto kLinux = PastedText::AbsolutePathOrUri;
    constexpr auto kWindows = PastedText::AnyNameMaybeQuoted;
    const struct {
        const char* text;
        PastedText rule;
        std::optional<std::string> path;
    } cases[] = {
        {" \t/tmp/a b.ps\r\n", kLinux, "/tmp/a b.ps"},
        {"file:///tmp/p%fe.ps\n", kLinux, "/tmp/p\xfe.ps"},
        {"file://localhost/tmp/x.ps", kLinux, "/tmp/x.ps"},
        {"file://elsewhere/tmp/x.ps", kLinux, std::nullopt},
        {"file:relative.ps", kLinux, std::nullopt},
        {"https://example.org/x.ps", kLinux, std::nullopt},
        {"relative.ps", kLinux, std::nullopt},
        {"\"/tmp/a.ps\"", kLinux, std::nullopt},
        {"/tmp/a.ps\n/tmp/b.ps", kLinux, std::nullopt},
        {"/tmp/a.ps\r/tmp/b.ps", kLinux, std::nullopt},
        {"  \r\n", kLinux, std::nullopt},
        {"", kLinux, std::nullopt},
        {" \"C:\\My files\\top.ps\" \r\n", kWindows, "C:\\My files\\top.ps"},
        {"top.ps", kWindows, "top.ps"},
        {"\"top.ps", kWindows, "\"top.ps"},
        {"\"\"", kWindows, std::nullopt},
        {"\"", kWindows, "\""},
        {"C:\\a.ps\r\nC:\\b.ps", kWindows, std::nullopt},
        {"\t", kWindows, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PathOfPastedText(c.text, c.rule), c.path) << c.text;
    }
}

// How a child ended: what it was killed for first, else what the system
// says; output past the limit unless it was stopped first.
TEST(HandOversTest, AChildsEndingIsItsFirstReason) {
    using Ending = ChildResult::Ending;
    ChildRequest request;
    request.limits.wallClock = std::chrono::milliseconds(0);
    std::atomic<bool> cancel{false};
    {
        ChildWatch watch(request, &cancel);
        EXPECT_FALSE(watch.Check(false, 10));
        ChildResult result;
        watch.End(result, Ending::Exited, 3, true);  // its output passed the limit at its end
        EXPECT_EQ(result.ending, Ending::OutputTooLarge);
        watch.End(result, Ending::Exited, 3, false);
        EXPECT_EQ(result.ending, Ending::Exited);
        EXPECT_EQ(result.status, 3);
    }
    request.limits.fileBytes = 100;
    {
        ChildWatch watch(request, &cancel);
        EXPECT_FALSE(watch.Check(false, 100));
        EXPECT_EQ(watch.Check(false, 101), Ending::WroteTooMuch);
        cancel = true;
        EXPECT_EQ(watch.Check(true), Ending::WroteTooMuch);  // the first reason stays
        ChildResult result;
        watch.End(result, Ending::Signalled, 9, false);
        EXPECT_EQ(result.ending, Ending::WroteTooMuch);
        EXPECT_EQ(result.status, 0);
    }
    {
        ChildWatch watch(request, &cancel);
        EXPECT_EQ(watch.Check(true), Ending::Cancelled);
        ChildResult result;
        watch.End(result, Ending::Signalled, 9, true);
        EXPECT_EQ(result.ending, Ending::Cancelled);
    }
}

// What a second copy hands over: names, each with its NUL, read back only
// when they are one or two absolute names no longer than the longest.
TEST(HandOversTest, TheNamesHandedOverAreOneOrTwoAbsoluteNames) {
    const auto absolute = [](std::string_view name) { return name.front() == '/'; };
    using Files = std::vector<std::string>;
    EXPECT_EQ(HandOverNames({"/a.ps", "/b.ps"}), std::string("/a.ps\0/b.ps\0", 12));
    const struct {
        std::string names;
        std::optional<Files> files;
    } cases[] = {
        {"", Files{}},  // none: to the front only
        {HandOverNames({"/a.ps"}), Files{"/a.ps"}},
        {HandOverNames({"/a.ps", "/b.ps"}), Files{"/a.ps", "/b.ps"}},
        {HandOverNames({"/a.ps", "/b.ps", "/a.ps"}), std::nullopt},
        {HandOverNames({"a.ps"}), std::nullopt},
        {HandOverNames({"/a.ps", ""}), std::nullopt},
        {std::string("\0", 1), std::nullopt},
        {"/a.ps", std::nullopt},  // no end
        {HandOverNames({"/" + std::string(9, 'x')}), Files{"/" + std::string(9, 'x')}},
        {HandOverNames({"/" + std::string(10, 'x')}), std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FilesOfHandOver(c.names, 10, absolute), c.files) << c.names;
    }
}

// A second copy with files: taken, it ends; refused while the other copy
// runs, it tries again until its patience ends, then says so; the other
// copy gone, it runs itself; one with rights above it is said at once.
TEST(HandOversTest, ASecondCopyTriesAgainWhileTheOtherRuns) {
    int tries = 0;
    std::vector<HandedOver> answers;
    bool running = true;
    SecondCopy copy;
    copy.handOver = [&](const std::vector<std::string>&) {
        const HandedOver answer = answers[std::min<std::size_t>(tries, answers.size() - 1)];
        ++tries;
        return answer;
    };
    copy.stillRunning = [&] { return running; };
    copy.patience = std::chrono::milliseconds(250);

    answers = {HandedOver::NotTaken, HandedOver::NotTaken, HandedOver::Taken};
    SecondCopyOutcome outcome = HandToTheCopyThatRuns(copy, {"/a.ps"});
    EXPECT_TRUE(outcome.taken);
    EXPECT_EQ(tries, 3);

    tries = 0;
    answers = {HandedOver::NotTaken};
    outcome = HandToTheCopyThatRuns(copy, {"/a.ps", "/b.ps"});
    EXPECT_FALSE(outcome.taken);
    EXPECT_EQ(outcome.notTaken,
              "Its window did not take /a.ps and /b.ps: open them in its window.");
    EXPECT_GE(tries, 3);

    tries = 0;
    answers = {HandedOver::OtherRights};
    outcome = HandToTheCopyThatRuns(copy, {"/a.ps"});
    EXPECT_EQ(outcome.notTaken,
              "It runs with other rights (as administrator?), which keep this copy from giving "
              "it /a.ps: open it in its window.");
    EXPECT_EQ(tries, 1);

    tries = 0;
    answers = {HandedOver::NotTaken};
    running = false;
    outcome = HandToTheCopyThatRuns(copy, {"/a.ps"});
    EXPECT_FALSE(outcome.taken);
    EXPECT_EQ(outcome.notTaken, "");
    EXPECT_EQ(tries, 1);

    // Without files, one try: the window comes to the front, or not.
    tries = 0;
    running = true;
    answers = {HandedOver::Taken};
    outcome = HandToTheCopyThatRuns(copy, {});
    EXPECT_FALSE(outcome.taken);
    EXPECT_EQ(tries, 1);
}

TEST(HandOversTest, AZoneRemembersWhyItRefusedAFile) {
    TempFolder dir;
    testing::FakeDesktop desktop;
    TextFiles files;
    testing::ScriptedInstances firstCopy(false);
    testing::FakeCaptions captions;
    // What the window is told, in order: "tip TOP", "names", "sheet of left.ps/-".
    struct RecordingViews : ZoneViews {
        std::vector<std::string> told;
        void ShowTip(Zone zone) override {
            told.push_back(zone == Zone::Top ? "tip TOP" : "tip BOTTOM");
        }
        void Describe() override { told.push_back("names"); }
        void ShowSheetOf(const SheetSources& sources) override {
            told.push_back("sheet of " + (sources.top ? FileOnly(*sources.top) : "-") + "/" +
                           (sources.bottom ? FileOnly(*sources.bottom) : "-"));
        }
    } views;
    FormHandlers handlers(desktop, files, firstCopy, captions, [] {}, &views);
    handlers.Load();
    const struct {
        Zone zone;
        std::vector<std::string> files;
        const char* refusal;  // TOP's after the drop
    } drops[] = {
        {Zone::Top, {dir.Write("notes.txt", "x")}, "notes.txt: Sorry only *.PS files"},
        {Zone::Top, {dir.Write("empty.ps", "")}, "empty.ps: file check NOT OK: it is empty"},
        {Zone::Bottom, {dir.Path("gone.ps")}, "empty.ps: file check NOT OK: it is empty"},
        {Zone::Top, {dir.Write("a.ps", "x"), dir.Write("b.ps", "x")}, "Only one at a time!"},
        {Zone::Top, {dir.Write("left.ps", AcceptedInput())}, ""},
    };
    for (const auto& drop : drops) {
        handlers.TakeFiles(drop.zone, drop.files);
        EXPECT_EQ(handlers.Refusal(Zone::Top), drop.refusal) << drop.files.front();
    }
    EXPECT_EQ(handlers.Refusal(Zone::Bottom), "gone.ps: file check NOT OK: not found");
    ASSERT_EQ(views.told.size(), 3 * std::size(drops)) << "the window is told of each";
    const std::vector<std::string> last(views.told.end() - 6, views.told.end());
    EXPECT_EQ(last, (std::vector<std::string>{"tip TOP", "names", "sheet of -/-", "tip TOP",
                                              "names", "sheet of left.ps/-"}));
}

}  // namespace
}  // namespace a5merge
