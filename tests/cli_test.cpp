// a5merge-cli, run as a process.

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>

#include "platform/windows_support.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/placement.h"
#include "support/ps_samples.h"
#include "support/run_process.h"
#include "support/temp_folder.h"

namespace a5merge {
namespace {

// The program the tests run: the one built, unless A5MERGE_CLI_UNDER_TEST names another.
const std::string kCli = testing::ProgramUnderTest(A5MERGE_CLI, "A5MERGE_CLI_UNDER_TEST");

using testing::AcceptedInput;
using testing::ProcessResult;
using testing::ReadBytes;
using testing::RunProcess;
using testing::TempFolder;

using testing::TestData;

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        top = dir.Write("left.ps", ReadBytes(TestData("top.ps")));
        bottom = dir.Write("right.ps", ReadBytes(TestData("bottom.ps")));
        expected = ReadBytes(TestData("expected_merge.PS"));
    }

    // Runs a5merge-cli with `args` in the test's folder (or `args` as they
    // are when they start with /usr/bin/env).
    ProcessResult Cli(std::vector<std::string> args) {
        if (args.empty() || args.front() != "/usr/bin/env") args.insert(args.begin(), kCli);
        return RunProcess(args, dir.Path(""));
    }

    // Runs a5merge-cli with `args`, and `name` set to `value` in its
    // environment.
    ProcessResult CliWith(const char* name, const std::string& value,
                          std::vector<std::string> args) {
        testing::SetEnvironment(name, value.c_str());
        ProcessResult r = Cli(std::move(args));
        testing::SetEnvironment(name, nullptr);
        return r;
    }

    TempFolder dir;
    std::string top, bottom, expected;
};

TEST_F(CliTest, MergesIntoTheProposedName) {
    const ProcessResult r = Cli({"left.ps", "right.ps"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, dir.Path("left_Combi.PS") + "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadBytes(dir.Path("left_Combi.PS")), expected);
}

TEST_F(CliTest, ExistingOutputNeedsForce) {
    const std::string out = dir.Write("left_Combi.PS", "precious");
    ProcessResult r = Cli({"left.ps", "right.ps"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "a5merge-cli: " + out + ": exists; --force replaces it\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadBytes(out), "precious");

    r = Cli({"--force", "left.ps", "right.ps"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(out), expected);
}

TEST_F(CliTest, OutputElsewhereOrToStandardOutput) {
    testing::MakeFolder(dir.Path("sub"));
    ProcessResult r = Cli({"--output", "sub/../sheet.PS", "left.ps", "right.ps"});
    EXPECT_EQ(r.status, 0) << r.err;
#ifdef _WIN32
    // Made absolute by the system, which takes ".." away by its text.
    EXPECT_EQ(r.out, dir.Path("sheet.PS") + "\n");
#else
    EXPECT_EQ(r.out, dir.Path("sub/../sheet.PS") + "\n");
#endif
    EXPECT_EQ(ReadBytes(dir.Path("sheet.PS")), expected);

    r = Cli({"-o", "-", top, bottom});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"left.ps", "right.ps", "sheet.PS", "sub"}));
}

TEST_F(CliTest, AnInputMayBeTheOutput) {
    const std::string topBefore = ReadBytes(top);
    const std::string bottomBefore = ReadBytes(bottom);
    const ProcessResult r = Cli({"--output=right.ps", "--force", "left.ps", "right.ps"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(bottom), expected);
    EXPECT_EQ(ReadBytes(top), topBefore);
    EXPECT_NE(bottomBefore, expected);
}

TEST_F(CliTest, RefusalsUseTheZonesTexts) {
    testing::MakeFolder(dir.Path("folder.ps"));
    const std::string notes = dir.Write("notes.txt", AcceptedInput());
    const std::string bad = dir.Write("bad.ps", "hello\r\n");
#ifndef _WIN32
    dir.Write("new\nline.txt", AcceptedInput());
#endif
    testing::Hide(dir.Write(".hidden.ps", AcceptedInput()));
    ASSERT_EQ(Cli({"left.ps", "right.ps"}).status, 0);
    const std::string merged = dir.Path("left_Combi.PS");
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    std::vector<Case> cases = {
        {{"folder.ps", "right.ps"}, dir.Path("folder.ps") + ": Sorry only files, NO DIR's"},
        {{"notes.txt", "right.ps"}, notes + ": Sorry only *.PS files"},
        {{"bad.ps", "right.ps"},
         bad + ": TOP.PS file check NOT OK: line 1 is not a PostScript header (%!PS-Adobe)"},
        {{"left.ps", "bad.ps"},
         bad + ": BOTTOM.PS file check NOT OK: line 1 is not a PostScript header (%!PS-Adobe)"},
        {{"left.ps", "gone.ps"}, dir.Path("gone.ps") + ": BOTTOM.PS file check NOT OK: not found"},
        {{"left.ps", "left_Combi.PS"},
         merged + ": BOTTOM.PS processed before: it is a merged sheet already (a line from line 3 "
                  "on holds \" 2e A5 \")"},
        {{"left_Combi.PS", "right.ps"},
         merged + ": TOP.PS processed before: it is a merged sheet already (a line from line 3 on "
                  "holds \" 2e A5 \")"},
    };
#ifdef _WIN32
    cases.push_back({{".hidden.ps", "right.ps"},
                     dir.Path(".hidden.ps") +
                         ": TOP.PS file check NOT OK: hidden: its Hidden attribute is set"});
    // A device name is no file, with whatever Windows lets follow it.
    for (const char* device : {"nul.PS", "COM0.ps", "lpt\xc2\xb3.ps", "Con.ps"}) {
        cases.push_back({{"left.ps", device},
                         dir.Path(device) + ": BOTTOM.PS file check NOT OK: not a regular file"});
    }
    ::SetFileAttributesW(windows::Wide(dir.Write("system.ps", AcceptedInput())).c_str(),
                         FILE_ATTRIBUTE_SYSTEM);
    cases.push_back({{"system.ps", "right.ps"},
                     dir.Path("system.ps") + ": TOP.PS file check NOT OK: a file of the system: its "
                                             "System attribute is set"});
#else
    cases.push_back({{".hidden.ps", "right.ps"},
                     dir.Path(".hidden.ps") +
                         ": TOP.PS file check NOT OK: hidden: its name starts with a dot"});
    cases.push_back({{"new\nline.txt", "right.ps"},
                     "'" + dir.Path("new") + "'$'\\n''line.txt': Sorry only *.PS files"});
#endif
    for (const auto& c : cases) {
        const ProcessResult r = Cli(c.args);
        EXPECT_EQ(r.status, 1) << c.err;
        EXPECT_EQ(r.err, "a5merge-cli: " + c.err + "\n");
        EXPECT_EQ(r.out, "");
    }
    const ProcessResult both = Cli({"bad.ps", "notes.txt", "--force"});
    EXPECT_EQ(both.status, 1);
    EXPECT_EQ(both.err, "a5merge-cli: " + bad +
                            ": TOP.PS file check NOT OK: line 1 is not a PostScript header "
                            "(%!PS-Adobe)\na5merge-cli: " +
                            notes + ": Sorry only *.PS files\n");
#ifdef _WIN32
    EXPECT_EQ(dir.Entries().size(), 8u) << "nothing was written";
#else
    EXPECT_EQ(dir.Entries().size(), 8u) << "nothing was written";
#endif
}

TEST_F(CliTest, ShortPathIsRefusedWithTheGuardsText) {
    const testing::ShortPathFile shortFile;
    const std::string& path = shortFile.path();
    const ProcessResult r = Cli({path, "right.ps"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "a5merge-cli: " + path + ": Invalid file processing detected\n");
}

TEST_F(CliTest, FailedWriteNamesThePathAndTheReason) {
    testing::MakeFolder(dir.Path("taken.PS"));
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"-o", "missing/out.PS", "left.ps", "right.ps"},
         "Could not save " + dir.Path("missing/out.PS") + ": "},
        {{"-f", "-o", "taken.PS", "left.ps", "right.ps"},
         "Could not save " + dir.Path("taken.PS") + ": "},
    };
    for (const auto& c : cases) {
        const ProcessResult r = Cli(c.args);
        EXPECT_EQ(r.status, 4) << c.err;
        EXPECT_EQ(r.err.rfind("a5merge-cli: " + c.err, 0), 0u) << r.err;
        EXPECT_GT(r.err.size(), ("a5merge-cli: " + c.err + "\n").size()) << "no reason given";
        EXPECT_EQ(r.out, "");
    }
}

#ifndef _WIN32
TEST_F(CliTest, NamesThatAreNotUtf8AreWrittenAsTheyAre) {
    // The name U+FFFD stands for when bytes are decoded, and the bytes.
    const std::string decoded = dir.Write("victim\xef\xbf\xbd.PS", "precious");
    ProcessResult r = Cli({"-o", "victim\xff.PS", "left.ps", "right.ps"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "'" + dir.Path("victim") + "'$'\\377''.PS'\n");
    EXPECT_EQ(ReadBytes(dir.Path("victim\xff.PS")), expected);
    EXPECT_EQ(ReadBytes(decoded), "precious");

    // A TOP named in Latin-1, in a folder named in Latin-1: the default name
    // is made of the same bytes, and a second run finds it taken.
    ::mkdir(dir.Path("Gr\xf6\xdf"
                     "e")
                .c_str(),
            0700);
    dir.Write(
        "Gr\xf6\xdf"
        "e/top\xfe.ps",
        ReadBytes(top));
    for (const int status : {0, 3}) {
        r =
            Cli({"Gr\xf6\xdf"
                 "e/top\xfe.ps",
                 "right.ps"});
        EXPECT_EQ(r.status, status) << r.err;
    }
    EXPECT_EQ(ReadBytes(dir.Path("Gr\xf6\xdf"
                                 "e/top\xfe_Combi.PS")),
              expected);
}

TEST_F(CliTest, DotDotMeansWhatTheFileSystemSays) {
    // sl/.. is elsewhere, not this folder: sl leads to elsewhere/deep.
    ::mkdir(dir.Path("elsewhere").c_str(), 0700);
    ::mkdir(dir.Path("elsewhere/deep").c_str(), 0700);
    ASSERT_EQ(::symlink("elsewhere/deep", dir.Path("sl").c_str()), 0);
    dir.Write("elsewhere/left.ps", testing::AcceptedInput("(other top) show\r\n"));
    dir.Write("elsewhere/right.ps", testing::AcceptedInput("(other bottom) show\r\n"));
    const std::string other = ReadBytes(dir.Path("elsewhere/right.ps")) + testing::kInsertedLines +
                              ReadBytes(dir.Path("elsewhere/left.ps"));

    ProcessResult r = Cli({"-o", "-", "sl/../left.ps", "sl/../right.ps"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, other);
    r = Cli({"-o", "sl/../out.PS", "left.ps", "right.ps"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(dir.Path("elsewhere/out.PS")), expected);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("out.PS")));
}

TEST_F(CliTest, StandardOutputThatIsAnInputIsRefused) {
    const std::string before = ReadBytes(bottom);
    const ProcessResult r = RunProcess(
        {"/bin/sh", "-c", "exec '" + kCli + "' -o - left.ps right.ps >> right.ps"}, dir.Path(""));
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, "a5merge-cli: " + bottom + ": input file is standard output\n");
    EXPECT_EQ(ReadBytes(bottom), before);
}

// Each input is opened once: what is written is what was checked.
TEST_F(CliTest, EachInputIsReadOnce) {
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    const int topWatch = ::inotify_add_watch(watch, top.c_str(), IN_OPEN);
    const int bottomWatch = ::inotify_add_watch(watch, bottom.c_str(), IN_OPEN);
    ASSERT_EQ(Cli({"-o", "-", "left.ps", "right.ps"}).status, 0);
    int topOpens = 0, bottomOpens = 0;
    alignas(inotify_event) char events[4096];
    for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;) {
        for (char* at = events; at < events + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            topOpens += event->wd == topWatch;
            bottomOpens += event->wd == bottomWatch;
            at += sizeof(inotify_event) + event->len;
        }
    }
    ::close(watch);
    EXPECT_EQ(topOpens, 1);
    EXPECT_EQ(bottomOpens, 1);
}

TEST_F(CliTest, NamesThatCannotBeMadeSayWhy) {
    const std::string longTop = dir.Write(std::string(250, 't') + ".ps", ReadBytes(top));
    ::mkdir(dir.Path("closed").c_str(), 0600);  // may not be searched
    dir.OpenToAll();
    ::chmod(top.c_str(), 0644);
    ::chmod(bottom.c_str(), 0644);
    ::chmod(longTop.c_str(), 0644);
    const std::vector<std::string> unprivileged =
        ::geteuid() == 0 ? std::vector<std::string>{"/usr/bin/setpriv", "--reuid=65534",
                                                    "--regid=65534", "--clear-groups"}
                         : std::vector<std::string>{};
    const struct {
        std::vector<std::string> args;
        std::string output;
        const char* reason;
    } cases[] = {
        {{"-o", std::string(300, 'x') + ".PS", top, bottom},
         dir.Path(std::string(300, 'x') + ".PS"),
         "File name too long"},
        {{longTop, bottom}, dir.Path(std::string(250, 't') + "_Combi.PS"), "File name too long"},
        {{"-o", std::string(100 * 1024, 'y'), top, bottom},
         dir.Path(std::string(100 * 1024, 'y')),
         "File name too long"},
        {{"-o", "closed/out.PS", top, bottom}, dir.Path("closed/out.PS"), "Permission denied"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = unprivileged;
        argv.push_back(kCli);
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const ProcessResult r = RunProcess(argv, dir.Path(""));
        EXPECT_EQ(r.status, 4) << c.reason;
        EXPECT_EQ(r.err, "a5merge-cli: Could not save " + c.output + ": " + c.reason + "\n");
    }
}

TEST_F(CliTest, AGoneCurrentFolderIsSaidNotCrashedOn) {
    const ProcessResult r = RunProcess(
        {"/bin/sh", "-c",
         "mkdir gone && cd gone && rmdir ../gone && exec '" + kCli + "' left.ps '" + bottom + "'"},
        dir.Path(""));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "a5merge-cli: left.ps: cannot be resolved against the current folder: No such file "
              "or directory\n");
}
#endif

// A user's folders and files that only look like ours by their names are
// never touched by the clean-ups: in the temporary folder, and beside a
// target.
TEST_F(CliTest, LookAlikesOfOurFilesAreLeftAlone) {
    TempFolder temporary;
    const char sep = testing::Native("/").string() == "/" ? '/' : '\\';
    testing::MakeFolder(temporary.Path("a5merge-photos"));
    temporary.Write(std::string("a5merge-photos") + sep + "holiday.jpg", "a user's");
    testing::MakeFolder(temporary.Path("a5merge-k1ll3d"));
    temporary.Write(std::string("a5merge-k1ll3d") + sep + ".a5merge-folder", "a user's");
    temporary.Write("a5merge-abcdef", "a user's");
    dir.Write(".a5merge-0badcafe", "a user's");
    dir.Write("sheet.PS", "old");
    const std::vector<std::string> ours = temporary.Entries(), here = dir.Entries();
    const auto run = [&](std::vector<std::string> args) {
#ifdef _WIN32  // the child's TMP alone: this process keeps its own for what it runs
        args.insert(args.begin(), kCli);
        return testing::RunProcessWith(args, dir.Path(""), "TMP", temporary.Path(""));
#else
        return CliWith("TMPDIR", temporary.Path(""), std::move(args));
#endif
    };
    EXPECT_EQ(run({"--force", "-o", "sheet.PS", "left.ps", "right.ps"}).status, 0);
    const ProcessResult pdf = run({"--force", "--pdf", "left.ps", "right.ps"});
    EXPECT_EQ(pdf.status, 0) << pdf.err;
    EXPECT_EQ(temporary.Entries(), ours);
    EXPECT_EQ(ReadBytes(temporary.Path(std::string("a5merge-photos") + sep + "holiday.jpg")),
              "a user's");
    EXPECT_EQ(ReadBytes(temporary.Path(std::string("a5merge-k1ll3d") + sep + ".a5merge-folder")),
              "a user's");
    EXPECT_EQ(ReadBytes(dir.Path(".a5merge-0badcafe")), "a user's");
    std::vector<std::string> after = dir.Entries();
    std::erase(after, "left_Combi.pdf");
    EXPECT_EQ(after, here);
}

// The next run settles what a killed run recorded: a sheet it can put
// nowhere keeps its record, and its folder, for a run that can; one it
// settles goes with its folder.
TEST_F(CliTest, WhatTheNextRunCannotSettleItKeeps) {
    TempFolder temporary;
#ifdef _WIN32
    const char sep = '\\';
    const char* const kLineEnd = "\r\n";
#else
    const char sep = '/';
    const char* const kLineEnd = "\n";
#endif
    // A private folder as a killed run leaves it: its mark, its record.
    const auto leave = [&](const std::string& name, const Placement& placement) {
        testing::MakeFolder(temporary.Path(name));
        const std::optional<FileIdentity> id = IdentityOf(temporary.Path(name));
        ASSERT_TRUE(id);
        temporary.Write(name + sep + ".a5merge-folder",
                        "a5merge private folder " + std::to_string(id->device) + " " +
                            std::to_string(id->number) + kLineEnd);
        temporary.Write(name + sep + "placing", RecordText(placement));
    };
    Placement stranded;
    stranded.target = dir.Path("gone") + sep + "t.PS";  // in no folder that is there
    stranded.fresh = dir.Write(".a5merge-11111111", "the whole new sheet");
    stranded.freshId = *IdentityOf(stranded.fresh);
    stranded.whole = true;
    leave("a5merge-strand", stranded);
    Placement settled;
    settled.target = dir.Write("t2.PS", "a user's");
    settled.fresh = dir.Write(".a5merge-22222222", "a new sheet");
    settled.freshId = *IdentityOf(settled.fresh);
    settled.whole = true;
    leave("a5merge-settle", settled);
#ifdef _WIN32
    const ProcessResult r = testing::RunProcessWith({kCli, "-o", "out.PS", "left.ps", "right.ps"},
                                                    dir.Path(""), "TMP", temporary.Path(""));
#else
    const ProcessResult r =
        CliWith("TMPDIR", temporary.Path(""), {"-o", "out.PS", "left.ps", "right.ps"});
#endif
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(temporary.Entries(), std::vector<std::string>{"a5merge-strand"});
    EXPECT_EQ(ReadBytes(temporary.Path(std::string("a5merge-strand") + sep + "placing")),
              RecordText(stranded));
    EXPECT_EQ(ReadBytes(stranded.fresh), "the whole new sheet");
    EXPECT_EQ(ReadBytes(settled.target), "a user's");
    EXPECT_FALSE(IdentityOf(settled.fresh)) << "the settled run's new sheet stays";
}

TEST_F(CliTest, CheckPrintsALinePerFile) {
    ASSERT_EQ(Cli({"left.ps", "right.ps"}).status, 0);
    const std::string bad = dir.Write("bad.ps", "x");
    ProcessResult r = Cli({"--check", "left.ps", "bad.ps", "left_Combi.PS", "right.ps"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, top + ": OK\n" + bad +
                         ": file check NOT OK: line 1 is not a PostScript header (%!PS-Adobe)\n" +
                         dir.Path("left_Combi.PS") +
                         ": processed before: it is a merged sheet already (a line from line 3 on "
                         "holds \" 2e A5 \")\n" +
                         bottom + ": OK\n");
    r = Cli({"--check", "left_Combi.PS"});
    EXPECT_EQ(r.status, 1) << "a merged file alone is refused too";
    r = Cli({"--check", "left.ps", "right.ps"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, top + ": OK\n" + bottom + ": OK\n");
}

TEST_F(CliTest, UsageErrors) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"left.ps"},
        {"left.ps", "right.ps", "third.ps"},
        {"--frobnicate", "left.ps", "right.ps"},
        {"left.ps", "right.ps", "--output"},
        {"--output=", "left.ps", "right.ps"},
        {"--check"},
        {"--check", "--force", "left.ps"},
        {"--check", "-o", "x.PS", "left.ps"},
        {"--check", "--pdf", "left.ps"},
        {"--check", "--verify", "left.ps"},
        {"--version", "extra"},
        {"--help", "left.ps"},
        {"", "right.ps"},
        {"--check", "left.ps", ""},
    };
    for (const auto& args : cases) {
        const ProcessResult r = Cli(args);
        EXPECT_EQ(r.status, 2) << ::testing::PrintToString(args);
        EXPECT_EQ(r.err.rfind("a5merge-cli: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("Try 'a5merge-cli --help'."), std::string::npos);
    }
    EXPECT_EQ(dir.Entries().size(), 2u);
    EXPECT_EQ(Cli({"left.ps", ""}).err,
              "a5merge-cli: BOTTOM.ps is an empty name\nTry 'a5merge-cli --help'.\n");
}

// The sheet as PDF goes where and as the PostScript would: the default name
// ends in _Combi.pdf, a name ending in .pdf asks for PDF, standard output
// gets the same bytes, and an existing file needs --force.
TEST_F(CliTest, PdfGoesWhereThePostScriptWould) {
    ProcessResult r = Cli({"--pdf", "left.ps", "right.ps"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, dir.Path("left_Combi.pdf") + "\n");
    const std::string pdf = ReadBytes(dir.Path("left_Combi.pdf"));
    EXPECT_EQ(pdf.rfind("%PDF-", 0), 0u);

    r = Cli({"-o", "sheet.PDF", "left.ps", "right.ps"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(dir.Path("sheet.PDF")), pdf);
    r = Cli({"--pdf", "-o", "-", "left.ps", "right.ps"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, pdf);

    r = Cli({"--pdf", "left.ps", "right.ps"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err,
              "a5merge-cli: " + dir.Path("left_Combi.pdf") + ": exists; --force replaces it\n");
    dir.Write("bad.ps", AcceptedInput("nosuchoperator\r\n"));
    r = Cli({"--pdf", "--force", "bad.ps", "right.ps"});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, "a5merge-cli: Could not save " + dir.Path("bad_Combi.pdf") +
                         ": Ghostscript: Error: /undefined in nosuchoperator\n");
    EXPECT_EQ(ReadBytes(dir.Path("left_Combi.pdf")), pdf);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("bad_Combi.pdf")));
}

// --verify renders what was written and says when it will not print as one
// sheet with both drawings: exit 5, the file written all the same.
TEST_F(CliTest, VerifySaysWhatWillNotPrint) {
    ProcessResult r = Cli({"--verify", "left.ps", "right.ps"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadBytes(dir.Path("left_Combi.PS")), expected);

    dir.Write(
        "twice.ps",
        AcceptedInput(
            "0 0 moveto 9 9 lineto stroke showpage\r\n0 0 moveto 9 9 lineto stroke showpage\r\n"));
    r = Cli({"--verify", "--pdf", "twice.ps", "right.ps"});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, dir.Path("twice_Combi.pdf") + "\n");
    EXPECT_EQ(r.err, "a5merge-cli: " + dir.Path("twice_Combi.pdf") + ": prints as 2 pages\n");
    EXPECT_TRUE(std::filesystem::exists(dir.Path("twice_Combi.pdf")));

    // Pages without end: the render is stopped at its limit.
    dir.Write("pages.ps", AcceptedInput("{ showpage } loop\r\n"));
    r = Cli({"--verify", "pages.ps", "right.ps"});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, "a5merge-cli: " + dir.Path("pages_Combi.PS") +
                         ": Ghostscript made more than 256 MiB\n");
}

// Ghostscript that hangs or is missing: the limit stops it and nothing is
// written; without it, PDF is refused with the package to install, and the
// PostScript sheet is written as ever.
TEST_F(CliTest, GhostscriptThatHangsOrIsMissing) {
    dir.Write("loop.ps", AcceptedInput("{ } loop\r\nshowpage\r\n"));
    const auto before = dir.Entries();
    ProcessResult r = CliWith("A5MERGE_GHOSTSCRIPT_SECONDS", "1", {"--pdf", "loop.ps", "right.ps"});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, "a5merge-cli: Could not save " + dir.Path("loop_Combi.pdf") +
                         ": Ghostscript did not finish within 1 s\n");
    EXPECT_EQ(dir.Entries(), before);

#ifdef _WIN32
    const std::string missing =
        "a5merge-cli: Ghostscript for Windows was not found: install it (64-bit, from "
        "https://ghostscript.com/releases/gsdnld.html), or set A5MERGE_GHOSTSCRIPT to its "
        "gswin64c.exe\n";
#else
    const std::string missing =
        "a5merge-cli: Ghostscript (gs) was not found: install the package ghostscript\n";
    // Not on the PATH, as well as not where A5MERGE_GHOSTSCRIPT says.
    r = Cli({"/usr/bin/env", "PATH=/nonexistent", kCli, "--pdf", "left.ps", "right.ps"});
    EXPECT_EQ(r.err, missing);
#endif
    for (const char* option : {"--pdf", "--verify"}) {
        r = CliWith("A5MERGE_GHOSTSCRIPT", dir.Path("nowhere.exe"), {option, "left.ps", "right.ps"});
        EXPECT_EQ(r.status, 4) << option;
        EXPECT_EQ(r.err, missing);
    }
    EXPECT_EQ(dir.Entries(), before);
    r = CliWith("A5MERGE_GHOSTSCRIPT", dir.Path("nowhere.exe"), {"left.ps", "right.ps"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(dir.Path("left_Combi.PS")), expected);
}

#ifdef _WIN32
// Targets Windows keeps from us: one another program holds open, a
// read-only one, a device's name. Each is refused with its reason, the file
// there untouched, nothing of ours left; NUL takes the sheet as /dev/null does.
TEST_F(CliTest, TargetsWindowsKeepAreRefusedAndLeftAsTheyWere) {
    const std::string held = dir.Write("held.PS", "old");
    const std::string readOnly = dir.Write("readonly.PS", "old");
    testing::MakeReadOnly(readOnly);
    // As a word processor or a viewer holds a file: others may only read.
    const windows::Handle holder(::CreateFileW(windows::Wide(held).c_str(), GENERIC_READ,
                                               FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                               nullptr));
    ASSERT_TRUE(holder.valid());
    const auto before = dir.Entries();
    const struct {
        std::string output;
        std::string err;  // after "Could not save PATH: "
    } cases[] = {
        {"held.PS", "(another program holds it open); nothing was written"},
        {"readonly.PS", "is read-only; nothing was written"},
        {"CON.PS", "is CON, a device of Windows, not a file"},
        {"prn", "is PRN, a device of Windows, not a file"},
        {"Aux.txt", "is AUX, a device of Windows, not a file"},
        {"com1.PS", "is COM1, a device of Windows, not a file"},
        {"LPT9.pdf.PS", "is LPT9, a device of Windows, not a file"},
        // The names Microsoft's "Naming Files" page adds, and what Windows
        // lets follow a device's name: dots, an extension, a stream.
        {"COM0", "is COM0, a device of Windows, not a file"},
        {"lpt0.PS", "is LPT0, a device of Windows, not a file"},
        {"COM\xc2\xb9", "is COM\xc2\xb9, a device of Windows, not a file"},
        {"lpt\xc2\xb3.PS", "is LPT\xc2\xb3, a device of Windows, not a file"},
        {"AUX.", "is AUX, a device of Windows, not a file"},
        {"prn.PS:x", "is PRN, a device of Windows, not a file"},
        {"aux:x", "is AUX, a device of Windows, not a file"},
        {"sheet.PS:hidden", "names a stream of a file (after its ':'), not a file"},
    };
    for (const auto& c : cases) {
        for (const char* force : {"--force", "-o"}) {
            std::vector<std::string> args = {"-o", c.output, "left.ps", "right.ps"};
            if (std::string(force) == "--force") args.insert(args.begin(), force);
            const ProcessResult r = Cli(args);
            const std::string said = "a5merge-cli: Could not save " + dir.Path(c.output) + ": ";
            // Right after it: nothing of ours is left (no later run has swept).
            EXPECT_EQ(dir.Entries(), before) << c.output << " " << force;
            if (r.status == 3) {  // without --force a file that is there is not touched at all
                EXPECT_NE(c.output.find(".PS"), std::string::npos);
                continue;
            }
            EXPECT_EQ(r.status, 4) << c.output << " " << force;
            EXPECT_EQ(r.err.rfind(said, 0), 0u) << r.err;
            EXPECT_NE(r.err.find(c.err + "\n"), std::string::npos) << r.err;
            EXPECT_EQ(r.out, "");
        }
    }
    EXPECT_EQ(ReadBytes(held), "old");
    EXPECT_EQ(ReadBytes(readOnly), "old");

    // NUL keeps nothing, as /dev/null; what is written there says so, naming no file.
    for (const char* sink : {"NUL", "nul.PS", "Nul.ps:x", "NUL "}) {
        const ProcessResult r = Cli({"-o", sink, "left.ps", "right.ps"});
        EXPECT_EQ(r.status, 0) << sink << ": " << r.err;
        EXPECT_EQ(r.out, "NUL\n") << sink;
        EXPECT_EQ(dir.Entries(), before) << sink;
    }
}

// Starts `args` (a5merge-cli's), detached, in `folder`.
windows::Handle StartCli(const std::vector<std::string>& args, const std::string& folder = "") {
    std::vector<std::string> argv = {kCli};
    argv.insert(argv.end(), args.begin(), args.end());
    std::wstring line = windows::CommandLine(argv);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const std::wstring in = windows::Wide(folder);
    if (!::CreateProcessW(windows::Wide(kCli).c_str(), line.data(), nullptr, nullptr, FALSE,
                          DETACHED_PROCESS, nullptr, folder.empty() ? nullptr : in.c_str(),
                          &startup, &process)) {
        return {};
    }
    ::CloseHandle(process.hThread);
    return windows::Handle(process.hProcess);
}

// The names in `dir` that start with `start`.
std::vector<std::string> NamesStartingWith(const TempFolder& dir, std::string_view start) {
    std::vector<std::string> names;
    for (const std::string& name : dir.Entries()) {
        if (name.starts_with(start)) names.push_back(name);
    }
    return names;
}

// Waits up to 10 s for a name starting with `start` that `before` lacks.
std::string WaitForNewName(const TempFolder& dir, std::string_view start,
                           const std::vector<std::string>& before = {}) {
    for (int i = 0; i < 2000; ++i) {
        for (const std::string& name : NamesStartingWith(dir, start)) {
            if (std::find(before.begin(), before.end(), name) == before.end()) return name;
        }
        ::Sleep(5);
    }
    return {};
}

// A link at `link` to `target` (`folder`: a folder), as a drawing that
// escaped -dSAFER could plant in the folder it writes in: the system's own
// where it makes one, else (wine, which only pretends to) one of the file
// system under it, which wine follows as Windows would not.
void PlantLink(const std::string& link, const std::string& target, bool folder) {
    if (::CreateSymbolicLinkW(windows::Wide(link).c_str(), windows::Wide(target).c_str(),
                              (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) |
                                  SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
        ::GetFileAttributesW(windows::Wide(link).c_str()) != INVALID_FILE_ATTRIBUTES) {
        return;
    }
    char unixLink[4096] = {}, unixTarget[4096] = {};
    using ToUnix = char*(CDECL*)(LPCWSTR);
    const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    ASSERT_NE(toUnix, nullptr) << "no way to make a link here";
    for (auto [from, to] : {std::pair{&link, unixLink}, std::pair{&target, unixTarget}}) {
        char* name = toUnix(windows::Wide(*from).c_str());
        ASSERT_NE(name, nullptr);
        std::snprintf(to, 4096, "%s", name);
        ::HeapFree(::GetProcessHeap(), 0, name);
    }
    const ProcessResult made = RunProcess({"Z:\\bin\\ln", "-s", unixTarget, unixLink});
    ASSERT_EQ(made.status, 0) << made.err;
    ASSERT_NE(::GetFileAttributesW(windows::Wide(link).c_str()), INVALID_FILE_ATTRIBUTES);
}

// Clean-ups remove only what is provably theirs: the private folders (and
// the placements they record) of runs that were killed, by their mark, not
// their names; never one a live run holds, never a user's folder or file
// that only looks like ours, never through a link planted in one.
TEST_F(CliTest, CleanUpsRemoveOnlyWhatIsTheirs) {
    TempFolder temporary, victim;
    const std::string keep = victim.Write("keep.txt", "the user's");
    // Look-alikes: a user's folders and files of our names.
    testing::MakeFolder(temporary.Path("a5merge-photos"));
    temporary.Write("a5merge-photos\\holiday.jpg", "a user's");
    testing::MakeFolder(temporary.Path("a5merge-k1ll3d"));
    temporary.Write("a5merge-k1ll3d\\sheet.ps", "a user's");
    temporary.Write("a5merge-abcdef", "a user's");
    dir.Write(".a5merge-0badcafe", "a user's");
    dir.Write(".a5merge-0badcafe.old", "a user's");
    const std::vector<std::string> lookAlikes = temporary.Entries();
    dir.Write("loop.ps", AcceptedInput("{ } loop\r\nshowpage\r\n"));

    // A run killed while Ghostscript works, with a link planted in its folder.
    testing::SetEnvironment("TMP", temporary.Path("").c_str());
    windows::Handle killed = StartCli({"--pdf", "--force", "loop.ps", "right.ps"}, dir.Path(""));
    ASSERT_TRUE(killed.valid());
    const std::vector<unsigned long> killedRun = {::GetProcessId(killed.get())};
    const std::string folder = WaitForNewName(temporary, "a5merge-", lookAlikes);
    ASSERT_FALSE(folder.empty()) << "no private folder was made";
    for (int i = 0; i < 200 && testing::RunningProcesses(L"gswin64c.exe", killedRun) == 0; ++i) {
        ::Sleep(50);
    }
    PlantLink(temporary.Path(folder + "\\planted"), victim.Path(""), true);
    PlantLink(temporary.Path(folder + "\\planted-file"), keep, false);
    ::TerminateProcess(killed.get(), 9);
    ::WaitForSingleObject(killed.get(), INFINITE);
    for (int i = 0; i < 100 && testing::RunningProcesses(L"gswin64c.exe", killedRun) > 0; ++i) {
        ::Sleep(50);
    }
    const std::vector<std::string> leftByKilled = temporary.Entries();

    // A live run, stopped where it holds its folder; then a run that sweeps.
    windows::Handle live = StartCli({"--pdf", "--force", "-o", "live.pdf", "loop.ps", "right.ps"},
                                    dir.Path(""));
    const std::string liveFolder = WaitForNewName(temporary, "a5merge-", leftByKilled);
    ASSERT_FALSE(liveFolder.empty());
    const ProcessResult next = Cli({"--pdf", "--force", "left.ps", "right.ps"});
    testing::SetEnvironment("TMP", nullptr);
    EXPECT_EQ(next.status, 0) << next.err;
    const std::vector<std::string> after = temporary.Entries();
    EXPECT_NE(std::find(after.begin(), after.end(), liveFolder), after.end())
        << "the live run's folder was removed";
    EXPECT_TRUE(std::filesystem::exists(testing::Native(temporary.Path(liveFolder + "\\.a5merge-folder"))))
        << "the live run's folder was emptied";
    EXPECT_EQ(ReadBytes(keep), "the user's") << "the clean-up followed the link";
    for (const std::string& name : lookAlikes) {
        EXPECT_NE(std::find(after.begin(), after.end(), name), after.end()) << name;
    }
    EXPECT_EQ(ReadBytes(temporary.Path("a5merge-photos\\holiday.jpg")), "a user's");
    EXPECT_EQ(ReadBytes(dir.Path(".a5merge-0badcafe")), "a user's");
    EXPECT_EQ(ReadBytes(dir.Path(".a5merge-0badcafe.old")), "a user's");
    // The killed run's folder goes, all but the links where the system will
    // not let them be removed as links (wine, which follows them even then).
    if (std::find(after.begin(), after.end(), folder) != after.end()) {
        WIN32_FIND_DATAW entry{};
        std::vector<std::string> inside;
        const HANDLE found = ::FindFirstFileW(
            windows::Wide(temporary.Path(folder + "\\*")).c_str(), &entry);
        ASSERT_NE(found, INVALID_HANDLE_VALUE);
        do {
            const std::string name = windows::Narrow(entry.cFileName);
            if (name != "." && name != "..") inside.push_back(name);
        } while (::FindNextFileW(found, &entry));
        ::FindClose(found);
        EXPECT_EQ(inside, (std::vector<std::string>{"planted", "planted-file"}));
    }
    ::TerminateProcess(live.get(), 9);
    ::WaitForSingleObject(live.get(), INFINITE);
}

// Killed at any moment of its first 300 ms, a run with Ghostscript never
// leaves Ghostscript behind (it is made in its job, which ends with us);
// killed while Ghostscript works, the same.
TEST_F(CliTest, AKilledRunLeavesNoGhostscriptRunning) {
    dir.Write("loop.ps", AcceptedInput("{ } loop\r\nshowpage\r\n"));
    std::srand(::GetCurrentProcessId());
    std::vector<unsigned long> runs;
    for (int attempt = 0; attempt < 25; ++attempt) {
        const windows::Handle run = StartCli({"--pdf", "--force", "loop.ps", "right.ps"}, dir.Path(""));
        ASSERT_TRUE(run.valid());
        runs.push_back(::GetProcessId(run.get()));
        if (attempt == 0) {  // once Ghostscript surely runs
            for (int i = 0; i < 200 && testing::RunningProcesses(L"gswin64c.exe", runs) == 0; ++i) {
                ::Sleep(50);
            }
            ASSERT_GT(testing::RunningProcesses(L"gswin64c.exe", runs), 0) << "Ghostscript never ran";
        } else {
            ::Sleep(static_cast<DWORD>(std::rand() % 300));
        }
        ::TerminateProcess(run.get(), 9);
        ::WaitForSingleObject(run.get(), INFINITE);
    }
    for (int i = 0; i < 100 && testing::RunningProcesses(L"gswin64c.exe", runs) > 0; ++i) ::Sleep(50);
    EXPECT_EQ(testing::RunningProcesses(L"gswin64c.exe", runs), 0);
}

// The sheet through a pipe is byte for byte the one written into a file,
// and the one Linux writes: no CR is added before LF.
TEST_F(CliTest, ThroughAPipeTheSheetIsTheSameBytes) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(::CreatePipe(&readEnd, &writeEnd, &inherit, 0));
    const windows::Handle reader(readEnd), writer(writeEnd);
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    std::wstring line = windows::CommandLine({kCli, "-o", "-", top, bottom});
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessW(windows::Wide(kCli).c_str(), line.data(), nullptr, nullptr, TRUE,
                                 CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process));
    const windows::Handle child(process.hProcess), thread(process.hThread);
    const_cast<windows::Handle&>(writer).reset();  // ours closed: the pipe ends with the child
    std::string piped;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        piped.append(buffer, got);
    }
    ::WaitForSingleObject(child.get(), INFINITE);
    DWORD code = 1;
    ::GetExitCodeProcess(child.get(), &code);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(piped, expected);
    ASSERT_EQ(Cli({"-o", "file.PS", "left.ps", "right.ps"}).status, 0);
    EXPECT_EQ(ReadBytes(dir.Path("file.PS")), expected);
}

// A stand-in for a virus scanner, the search indexer or a sync client: it
// opens each new file of a folder (told apart by name and identity) for a
// moment, as they do, letting others read and write it but not delete or
// rename it.
class Scanner {
public:
    Scanner(std::string folder, DWORD holdMs) : folder_(std::move(folder)), holdMs_(holdMs) {
        thread_ = std::thread([this] { Run(); });
    }
    ~Scanner() { Stop(); }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    int opened() const { return opened_; }

private:
    // A file is new when its name and stamps are (what the folder's listing
    // tells, without opening it).
    void Run() {
        std::vector<std::wstring> seen;
        while (!stop_) {
            WIN32_FIND_DATAW entry{};
            const HANDLE found =
                ::FindFirstFileW(windows::Wide(folder_ + "\\*").c_str(), &entry);
            if (found == INVALID_HANDLE_VALUE) continue;
            do {
                if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
                const std::wstring name = entry.cFileName;
                const std::wstring key = name + L"|" +
                                         std::to_wstring(entry.ftCreationTime.dwLowDateTime) +
                                         L"|" + std::to_wstring(entry.ftLastWriteTime.dwLowDateTime) +
                                         L"|" + std::to_wstring(entry.nFileSizeLow);
                if (std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
                const windows::Handle file(
                    ::CreateFileW(windows::Wide(folder_ + "\\").append(name).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
                if (!file.valid()) continue;  // tried again on the next pass
                seen.push_back(key);
                ++opened_;
                ::Sleep(holdMs_);
            } while (!stop_ && ::FindNextFileW(found, &entry));
            ::FindClose(found);
            ::Sleep(1);
        }
    }

    std::string folder_;
    DWORD holdMs_;
    std::atomic<bool> stop_{false};
    std::atomic<int> opened_{0};
    std::thread thread_;
};

// With a scanner opening every new file for a moment, every --force save
// still succeeds and leaves nothing of ours: each step it refuses is tried
// again for about a second. (A file held for good: the target, in
// TargetsWindowsKeepAreRefusedAndLeftAsTheyWere; ours, in the text files'
// tests.)
TEST_F(CliTest, ScannersThatHoldNewFilesForAMomentAreWaitedOut) {
    const std::string target = dir.Write("sheet.PS", "old");
    const std::vector<std::string> before = dir.Entries();
    {
        Scanner scanner(dir.Path(""), 15);
        for (int save = 0; save < 20; ++save) {
            const ProcessResult r = Cli({"--force", "-o", "sheet.PS", "left.ps", "right.ps"});
            EXPECT_EQ(r.status, 0) << "save " << save << ": " << r.err;
        }
        EXPECT_GT(scanner.opened(), 20);
    }
    EXPECT_EQ(ReadBytes(target), expected);
    EXPECT_EQ(dir.Entries(), before);
}

// Killed at any moment of a --force save, a run leaves the target with the
// old sheet or the new one, whole; killed while the old one was under our
// name (between ReplaceFileW's two renames), the next run puts it back.
// Killed while it writes, it leaves nothing (the system deletes its new
// file); whatever it leaves, the next run settles.
TEST_F(CliTest, KillsAtAnyMomentLeaveTheOldOrTheNewSheet) {
    // Big enough for a write to take a while.
    std::string padding(200'000, '%');
    padding += "\r\n";
    for (int i = 0; i < 60'000; ++i) padding += "% padding line\r\n";
    const std::string big = dir.Write("big.ps", AcceptedInput(padding + "showpage\r\n"));
    const std::string sheet = Cli({"-o", "-", "left.ps", "big.ps"}).out;
    ASSERT_GT(sheet.size(), 1'000'000u);
    const std::string target = dir.Path("sheet.PS");
    const auto next = [this] { return Cli({"--force", "-o", "other.PS", "left.ps", "right.ps"}); };
    std::srand(::GetCurrentProcessId());
    int torn = 0, killed = 0, putBack = 0, leftWhileWriting = 0;
    for (int attempt = 0; attempt < 30; ++attempt) {
        dir.Write("sheet.PS", "old");
        const windows::Handle run = StartCli({"--force", "-o", target, top, big});
        ASSERT_TRUE(run.valid());
        if (attempt % 5 == 0) {
            // Killed the moment its new file shows: while it writes.
            const std::vector<std::string> earlier = NamesStartingWith(dir, ".a5merge-");
            const std::string fresh = WaitForNewName(dir, ".a5merge-", earlier);
            killed += ::TerminateProcess(run.get(), 9) != 0;
            ::WaitForSingleObject(run.get(), INFINITE);
            const std::vector<std::string> now = NamesStartingWith(dir, ".a5merge-");
            leftWhileWriting += !fresh.empty() &&
                                std::find(now.begin(), now.end(), fresh) != now.end();
        } else {
            ::Sleep(static_cast<DWORD>(std::rand() % 900));
            killed += ::TerminateProcess(run.get(), 9) != 0;
            ::WaitForSingleObject(run.get(), INFINITE);
        }
        if (!std::filesystem::exists(testing::Native(target))) {
            ++putBack;
            EXPECT_EQ(next().status, 0);
        }
        const std::string now = ReadBytes(target);
        torn += now != "old" && now != sheet;
    }
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(leftWhileWriting, 0) << "a run killed while it wrote left its new file";
    EXPECT_GT(killed, 0);
    ASSERT_EQ(next().status, 0);
    for (const std::string& name : NamesStartingWith(dir, ".a5merge-")) ADD_FAILURE() << "left: " << name;
    EXPECT_TRUE(NamesStartingWith(dir, "rf").empty());
    std::printf("%d kills, %d put back by the next run\n", killed, putBack);
}

// A temporary folder, an input and an output longer than MAX_PATH: each
// works (the long-path prefix), and nothing runs for ever; what Ghostscript
// cannot take is refused with the reason.
TEST_F(CliTest, PathsLongerThanMaxPathWork) {
    std::string deep = dir.Path("");
    deep.pop_back();  // its separator
    while (deep.size() < 300) {
        deep += "\\folder-of-a-long-name";
        ASSERT_TRUE(::CreateDirectoryW(windows::SystemPath(deep).c_str(), nullptr)) << deep.size();
    }
    const std::string input = deep + "\\left.ps";
    const windows::Handle copy(::CreateFileW(windows::SystemPath(input).c_str(), GENERIC_WRITE, 0,
                                             nullptr, CREATE_NEW, 0, nullptr));
    const std::string bytes = ReadBytes(top);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(copy.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                            nullptr));
    const_cast<windows::Handle&>(copy).reset();
    ProcessResult r = Cli({"--force", input, "right.ps"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, deep + "\\left_Combi.PS\n");
    EXPECT_NE(::GetFileAttributesW(windows::SystemPath(deep + "\\left_Combi.PS").c_str()),
              INVALID_FILE_ATTRIBUTES);
    r = Cli({"--force", input, "right.ps"});  // replaced
    EXPECT_EQ(r.status, 0) << r.err;

    // Ghostscript, which is not long-path aware, is not given a folder it
    // cannot work in. (Wine's GetTempPathW passes over a TMP longer than
    // MAX_PATH; Windows' answers with the room it needs, which is taken.)
    std::string longTemporary = dir.Path("");
    longTemporary.pop_back();
    while (longTemporary.size() < 250) {
        longTemporary += "\\t";
        ASSERT_TRUE(::CreateDirectoryW(windows::SystemPath(longTemporary).c_str(), nullptr));
    }
    const auto start = std::chrono::steady_clock::now();
    r = testing::RunProcessWith({kCli, "--pdf", "--force", "-o", "long.pdf", "left.ps", "right.ps"},
                                dir.Path(""), "TMP", longTemporary);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.err.find(": too long for Ghostscript (at most 240); set TEMP to a shorter folder\n"),
              std::string::npos)
        << r.err;
    for (const std::string& temporary : {longTemporary, deep}) {
        r = testing::RunProcessWith({kCli, "--force", "-o", "long.PS", "left.ps", "right.ps"},
                                    dir.Path(""), "TMP", temporary);
        EXPECT_EQ(r.status, 0) << r.err;
    }
    WIN32_FIND_DATAW entry{};
    const HANDLE found =
        ::FindFirstFileW(windows::SystemPath(longTemporary + "\\a5merge-*").c_str(), &entry);
    EXPECT_EQ(found, INVALID_HANDLE_VALUE) << "a private folder was left in the long TMP";
    if (found != INVALID_HANDLE_VALUE) ::FindClose(found);
}
#endif

#ifndef _WIN32
// Every name a message shows can be typed back into a shell: the shell's
// own printf turns what is shown into the very bytes of the name. Option
// names are quoted the same way.
TEST_F(CliTest, NamesAreShownSoThatAShellTakesThemBack) {
    const std::vector<std::string> names = {"it's\nx.ps",
                                            "del\x7f.ps",
                                            "only'quote.ps",
                                            "over\xc0\x80long.ps",
                                            "over\xe0\x80\x80long.ps",
                                            "surrogate\xed\xa0\x80.ps",
                                            "past\xf4\x90\x80\x80max.ps",
                                            "lead\xf5\x80\x80\x80.ps",
                                            "tab\there.ps",
                                            "fine \xc3\xa9t\xc3\xa9.ps"};
    for (const std::string& name : names) {
        const ProcessResult r = Cli({"--check", name});
        const std::string suffix = ": file check NOT OK: not found\n";
        ASSERT_GE(r.out.size(), suffix.size()) << r.out;
        const std::string shown = r.out.substr(0, r.out.size() - suffix.size());
        EXPECT_EQ(RunProcess({"/bin/bash", "-c", "printf %s " + shown}).out, dir.Path(name))
            << "shown as " << shown;
        // What is shown is itself text: no control byte, and UTF-8 throughout.
        EXPECT_TRUE(std::none_of(shown.begin(), shown.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
        })) << shown;
        const std::string check = dir.Write("shown.txt", shown);
        EXPECT_EQ(RunProcess({"/usr/bin/iconv", "-f", "UTF-8", "-t", "UTF-8", check}).status, 0)
            << "not UTF-8: " << shown;
        if (name.rfind("fine", 0) == 0) {
            EXPECT_EQ(shown, "'" + dir.Path(name) + "'") << "UTF-8 stays as it is, in quotes";
        }
    }
    for (const std::string& option : {std::string("--fo\no"), std::string("-\x01")}) {
        const ProcessResult r = Cli({option, "left.ps", "right.ps"});
        EXPECT_EQ(r.status, 2);
        const std::string first = r.err.substr(0, r.err.find('\n'));
        EXPECT_EQ(first.rfind("a5merge-cli: unknown option '", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
    }
}

// What a run writes to a terminal or to a file it appends to never holds a
// part of a sheet whose input was refused; new files follow the umask; a
// FIFO output is closed, so that its reader sees the end.
TEST_F(CliTest, StandardOutputAndNewFilesAreLeftRight) {
    const std::string bigBottom =
        dir.Write("big.ps", AcceptedInput(std::string(400 * 1024, 'b') + "\r\nshowpage\r\n"));
    const std::string bad = dir.Write("bad.ps", "not PostScript\r\n");

    // A terminal: the sheet is refused after 400 KiB of it were made.
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(slave, 1);
        ::execl(kCli.c_str(), kCli.c_str(), "-o", "-", bad.c_str(), bigBottom.c_str(), nullptr);
        std::_Exit(127);
    }
    ::close(slave);
    // Read what reaches the terminal while the run goes on, so that it never
    // waits on a full terminal.
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    std::size_t shown = 0;
    int status = 0;
    char got[65536];
    for (;;) {
        for (ssize_t n; (n = ::read(master, got, sizeof got)) > 0;)
            shown += static_cast<std::size_t>(n);
        if (::waitpid(child, &status, WNOHANG) == child) break;
        ::usleep(10'000);
    }
    for (ssize_t n; (n = ::read(master, got, sizeof got)) > 0;)
        shown += static_cast<std::size_t>(n);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(shown, 0u) << "the terminal got part of a refused sheet";
    ::close(master);

    // Appended to: cut back to exactly what it held.
    const std::string log = dir.Write("log.PS", "held before\r\n");
    ProcessResult r = RunProcess(
        {"/bin/sh", "-c", "exec '" + kCli + "' -o - bad.ps big.ps >> log.PS"}, dir.Path(""));
    EXPECT_EQ(r.status, 1);
    r = RunProcess({"/bin/sh", "-c", "exec '" + kCli + "' -o - left.ps big.ps >> log.PS"},
                   dir.Path(""));
    EXPECT_EQ(r.status, 0);
    r = RunProcess({"/bin/sh", "-c", "exec '" + kCli + "' -o - big.ps bad.ps >> log.PS"},
                   dir.Path(""));
    EXPECT_EQ(r.status, 1);
    const std::string sheet = Cli({"-o", "-", "left.ps", "big.ps"}).out;
    EXPECT_TRUE(ReadBytes(log) == "held before\r\n" + sheet) << "cut back wrong";
    // Written from inside (1<>FILE): a refused sheet leaves every byte it held.
    const std::string inside = dir.Write("inside.PS", "held before, all of it\r\n");
    r = RunProcess({"/bin/sh", "-c", "exec '" + kCli + "' -o - bad.ps big.ps 1<>inside.PS"},
                   dir.Path(""));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(ReadBytes(inside), "held before, all of it\r\n");

    for (const auto& [mask, mode] : {std::pair{"022", 0644}, std::pair{"077", 0600}}) {
        const std::string name = std::string("mode") + mask + ".PS";
        r = RunProcess({"/bin/sh", "-c",
                        std::string("umask ") + mask + "; exec '" + kCli + "' -o " + name +
                            " left.ps right.ps"},
                       dir.Path(""));
        EXPECT_EQ(r.status, 0) << r.err;
        struct stat st {};
        ASSERT_EQ(::stat(dir.Path(name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, static_cast<mode_t>(mode)) << "umask " << mask;
    }

    const std::string fifo = dir.Path("fifo.PS");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    testing::FifoReader reader(fifo);
    r = Cli({"-o", fifo, "left.ps", "right.ps"});
    EXPECT_TRUE(reader.Finish()) << "the FIFO was never closed";
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(reader.received(), expected);
}

// What a replaced file keeps: a link to it stays a link (the file it points
// to gets the sheet), and a file rewritten in place keeps no tail of its own.
TEST_F(CliTest, LinksAndLongerOldContentsAreHandledWhole) {
    const std::string real = dir.Write("real.PS", "old");
    ASSERT_EQ(::symlink("real.PS", dir.Path("link.PS").c_str()), 0);
    ProcessResult r = Cli({"--force", "-o", "link.PS", "left.ps", "right.ps"});
    EXPECT_EQ(r.status, 0) << r.err;
    struct stat st {};
    ASSERT_EQ(::lstat(dir.Path("link.PS").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced by a file";
    EXPECT_EQ(ReadBytes(real), expected);

    const std::string linked = dir.Write("linked.PS", std::string(expected.size() * 3, 'o'));
    ASSERT_EQ(::link(linked.c_str(), dir.Path("linked too.PS").c_str()), 0);
    // A file of the user's under the name of the copy kept beside it.
    const std::string users = dir.Write("linked.PS.a5merge-new", "the user's own");
    r = Cli({"--force", "-o", "linked.PS", "left.ps", "right.ps"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(linked), expected);
    EXPECT_EQ(ReadBytes(dir.Path("linked too.PS")), expected);
    EXPECT_EQ(ReadBytes(users), "the user's own");
    EXPECT_FALSE(std::filesystem::exists(dir.Path("linked.PS.a5merge-new-2")));
}

// The new file is flushed to the disk before it takes the target's name,
// and the folder after, before the run says it is done; a file rewritten in
// place is on the disk before the whole copy kept beside it is removed.
TEST_F(CliTest, TheSheetIsOnTheDiskBeforeItTakesItsName) {
    if (::access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "strace is not installed";
    dir.Write("out.PS", "old");
    const auto traced = [this](const std::vector<std::string>& args) {
        std::vector<std::string> argv = {
            "/usr/bin/strace",
            "-f",
            "-e",
            "trace=fdatasync,fsync,rename,renameat,renameat2,linkat,unlinkat,write",
            "/usr/bin/env",
            "ASAN_OPTIONS=detect_leaks=0",  // LeakSanitizer cannot run traced
            kCli};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProcess(argv, dir.Path(""));
    };
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"--force", "-o", "out.PS", "left.ps", "right.ps"},
                                               {"-o", "new.PS", "left.ps", "right.ps"}}) {
        const ProcessResult r = traced(args);
        EXPECT_EQ(r.status, 0) << r.err;
        const std::size_t synced = r.err.find("fdatasync(");
        std::size_t named = r.err.find("rename");
        if (named == std::string::npos) named = r.err.find("linkat(");
        ASSERT_NE(named, std::string::npos) << r.err;
        EXPECT_LT(synced, named) << r.err;
        const std::size_t folderSynced = r.err.find("fsync(", named);
        const std::size_t told = r.err.find("write(1, ");
        EXPECT_NE(folderSynced, std::string::npos) << "the folder is never flushed: " << r.err;
        EXPECT_LT(folderSynced, told) << r.err;
    }
    EXPECT_EQ(ReadBytes(dir.Path("out.PS")), expected);

    ASSERT_EQ(::link(dir.Path("out.PS").c_str(), dir.Path("second.PS").c_str()), 0);
    const ProcessResult r = traced({"--force", "-o", "out.PS", "right.ps", "left.ps"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::size_t removed = r.err.find("unlinkat(", r.err.find("out.PS.a5merge-new"));
    ASSERT_NE(removed, std::string::npos) << r.err;
    EXPECT_NE(r.err.rfind("fdatasync(", removed), r.err.find("fdatasync("))
        << "the target was not flushed after the copy: " << r.err;
    EXPECT_EQ(ReadBytes(dir.Path("second.PS")), ReadBytes(dir.Path("out.PS")));

    // Where the file system makes no unnamed file (O_TMPFILE refused, as on
    // vfat), the new file has a temporary name: the copy kept beside the
    // target never takes a file of the user's, and the folder is flushed
    // once the copy is named, before the target is rewritten.
    const std::string users = dir.Write("out.PS.a5merge-new", "the user's own");
    std::string folder = dir.Path("");
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    const ProcessResult unnamed = RunProcess(
        {"/usr/bin/strace", "-f", "-qq", "-P", folder, "-P", folder + "/out.PS", "-e",
         "trace=openat,renameat2,linkat,fsync,sendfile,copy_file_range,write", "-e",
         "inject=openat:error=EOPNOTSUPP:when=2", "/usr/bin/env", "ASAN_OPTIONS=detect_leaks=0",
         kCli, "--force", "-o", "out.PS", "left.ps", "right.ps"},
        dir.Path(""));
    EXPECT_EQ(unnamed.status, 0) << unnamed.err;
    ASSERT_NE(unnamed.err.find("O_TMPFILE, 0644) = -1 EOPNOTSUPP"), std::string::npos)
        << unnamed.err;
    EXPECT_EQ(ReadBytes(users), "the user's own");
    EXPECT_FALSE(std::filesystem::exists(dir.Path("out.PS.a5merge-new-2")));
    EXPECT_EQ(ReadBytes(dir.Path("out.PS")), expected);
    EXPECT_EQ(ReadBytes(dir.Path("second.PS")), expected);
    const std::size_t copyNamed = unnamed.err.find("\"out.PS.a5merge-new-2\", RENAME_NOREPLACE) = 0");
    ASSERT_NE(copyNamed, std::string::npos) << unnamed.err;
    const std::size_t folderFlushed = unnamed.err.find("fsync(", copyNamed);
    std::size_t rewritten = unnamed.err.find("sendfile(", copyNamed);
    rewritten = std::min(rewritten, unnamed.err.find("copy_file_range(", copyNamed));
    ASSERT_NE(rewritten, std::string::npos) << unnamed.err;
    EXPECT_LT(folderFlushed, rewritten) << "the copy's name may not be on the disk: "
                                        << unnamed.err;
}


// Killed the moment before its new file takes the target's name (a
// temporary name of ours on it by then), a --force run leaves the target
// as it was; the next run that saves removes what it left, as its record
// says.
TEST_F(CliTest, AKillJustBeforeTheRenameIsSettledByTheNextRun) {
    if (::access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "strace is not installed";
    dir.Write("out.PS", "old");
    // A temporary folder of its own: another test's run would settle what
    // the killed one leaves before this one looks.
    TempFolder temporary;
    const auto traced = [this, &temporary](const std::string& inject) {
        std::vector<std::string> argv = {"/usr/bin/strace", "-f", "-qq", "-e",
                                         "trace=rename,renameat,renameat2"};
        if (!inject.empty()) argv.insert(argv.end(), {"-e", inject});
        argv.insert(argv.end(), {"/usr/bin/env", "ASAN_OPTIONS=detect_leaks=0",
                                 "TMPDIR=" + temporary.Path(""), kCli, "--force", "-o", "out.PS",
                                 "left.ps", "right.ps"});
        return RunProcess(argv, dir.Path(""));
    };
    // Which rename gives the target its content.
    const ProcessResult counted = traced("");
    ASSERT_EQ(counted.status, 0) << counted.err;
    int renames = 0, last = 0;
    for (std::size_t at = 0; (at = counted.err.find("rename", at)) != std::string::npos; ++at) {
        const std::size_t end = counted.err.find('\n', at);
        ++renames;
        if (counted.err.substr(at, end - at).find("\"out.PS\"") != std::string::npos) last = renames;
        at = end;
    }
    ASSERT_GT(last, 0) << counted.err;
    dir.Write("out.PS", "old");
    const ProcessResult killed =
        traced("inject=rename,renameat,renameat2:signal=SIGKILL:when=" + std::to_string(last));
    EXPECT_NE(killed.status, 0);
    EXPECT_EQ(ReadBytes(dir.Path("out.PS")), "old");
    const auto ours = [this] {
        int n = 0;
        for (const std::string& name : dir.Entries()) n += name.rfind(".a5merge-", 0) == 0;
        return n;
    };
    ASSERT_GT(ours(), 0) << "nothing of ours was left to settle";
    ASSERT_EQ(CliWith("TMPDIR", temporary.Path(""), {"-o", "other.PS", "left.ps", "right.ps"}).status,
              0);
    EXPECT_EQ(ours(), 0) << "the next run left the killed run's file";
    EXPECT_EQ(ReadBytes(dir.Path("out.PS")), "old");
}

// Ghostscript's sandbox: where bubblewrap is installed but cannot make its
// sandbox, the PDF is made all the same and the user is told; where there is
// no bubblewrap, nothing is said. Standard input and output may be closed.
TEST_F(CliTest, GhostscriptWithoutItsSandbox) {
    ::mkdir(dir.Path("bin").c_str(), 0755);
    ::symlink("/usr/bin/gs", dir.Path("bin/gs").c_str());
    ProcessResult r = Cli({"/usr/bin/env", "PATH=" + dir.Path("bin"), kCli, "--pdf", "-o",
                           "plain.pdf", "left.ps", "right.ps"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string pdf = ReadBytes(dir.Path("plain.pdf"));
    EXPECT_EQ(pdf.rfind("%PDF-", 0), 0u);

    // One run makes the PDF, in the sandbox; where the sandbox cannot be
    // made, that run finds it out and the PDF is made without it.
    const std::string runs = dir.Path("runs");
    dir.Write("bin/bwrap", "#!/bin/sh\necho run >>'" + runs + "'\nexec /usr/bin/bwrap \"$@\"\n");
    ::chmod(dir.Path("bin/bwrap").c_str(), 0755);
    r = Cli({"/usr/bin/env", "PATH=" + dir.Path("bin"), kCli, "--pdf", "-o", "boxed.pdf", "left.ps",
             "right.ps"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(runs), "run\n");
    EXPECT_EQ(ReadBytes(dir.Path("boxed.pdf")), pdf);

    std::filesystem::remove(runs);
    dir.Write("bin/bwrap", "#!/bin/sh\necho run >>'" + runs +
                               "'\necho 'bwrap: No permissions to create a new namespace' >&2\n"
                               "exit 1\n");
    r = Cli({"/usr/bin/env", "PATH=" + dir.Path("bin"), kCli, "--pdf", "-o", "warned.pdf",
             "left.ps", "right.ps"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "a5merge-cli: warning: bubblewrap cannot make its sandbox here (bwrap: No "
              "permissions to create a new namespace); Ghostscript runs with -dSAFER and private "
              "folders only\n");
    EXPECT_EQ(ReadBytes(dir.Path("warned.pdf")), pdf);
    EXPECT_EQ(ReadBytes(runs), "run\n");
    // Said before what is refused.
    r = Cli({"/usr/bin/env", "PATH=" + dir.Path("bin"), kCli, "--pdf", "-o", "warned.pdf",
             "left.ps", "right.ps"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err.rfind("a5merge-cli: warning: bubblewrap cannot make its sandbox here", 0), 0u)
        << r.err;
    EXPECT_NE(r.err.find("exists; --force replaces it"), std::string::npos) << r.err;

    r = RunProcess(
        {"/bin/sh", "-c", "exec '" + kCli + "' --pdf -o closed.pdf left.ps right.ps <&- >&-"},
        dir.Path(""));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(dir.Path("closed.pdf")), pdf);
}
#endif

TEST_F(CliTest, HelpAndVersion) {
    ProcessResult r = Cli({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* word : {"--output", "--force", "--pdf", "--verify", "--check", "--version",
                             "Exit status", "0 done", "1 an input refused", "2 usage error",
                             "3 the output exists", "4 the write failed", "5 --verify"}) {
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
    }
#ifdef _WIN32
    // No lp on Windows; -o FILE is what keeps bytes in Windows PowerShell 5.1.
    EXPECT_EQ(r.out.find("| lp"), std::string::npos);
    EXPECT_NE(r.out.find("Windows PowerShell 5.1"), std::string::npos);
#else
    EXPECT_NE(r.out.find("--pdf -o - TOP.ps BOTTOM.ps | lp\n"), std::string::npos);
#endif
    EXPECT_EQ(r.out.find("%PRINT%"), std::string::npos);
    r = Cli({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "a5merge-cli " A5MERGE_VERSION "\n");
}

#ifdef _WIN32
// Runs a5merge-cli with `args` and the standard output and error `out` and
// `errors` (inheritable), in `cwd` (empty: this process's); its exit status,
// or -1 when it did not start or end within 60 s.
int RunCliWithHandles(const std::vector<std::string>& args, HANDLE out, HANDLE errors,
                      const std::string& cwd = {}) {
    std::vector<std::string> argv = {kCli};
    argv.insert(argv.end(), args.begin(), args.end());
    std::wstring line = windows::CommandLine(argv);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = errors;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(windows::Wide(kCli).c_str(), line.data(), nullptr, nullptr, TRUE,
                          CREATE_NO_WINDOW, nullptr,
                          cwd.empty() ? nullptr : windows::Wide(cwd).c_str(), &startup,
                          &process)) {
        return -1;
    }
    ::CloseHandle(process.hThread);
    const windows::Handle child(process.hProcess);
    DWORD status = 0;
    if (::WaitForSingleObject(child.get(), 60000) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(child.get(), &status)) {
        return -1;
    }
    return static_cast<int>(status);
}

// Each line is one write, so that a console never shows a character cut in
// two: read from a pipe that keeps each write a message of its own.
TEST_F(CliTest, EachLineIsWrittenWhole) {
    const std::string name = dir.Write("\xd0\xbb\xd0\xb5\xd0\xb2\xd1\x8b\xd0\xb9 \xf0\x9f\x98\x80.txt", "x");
    const std::wstring pipeName =
        L"\\\\.\\pipe\\a5merge-test-" + std::to_wstring(::GetCurrentProcessId());
    // What `args` writes to standard output and error, one message a write.
    const auto writes = [&](const std::vector<std::string>& args) {
        std::vector<std::string> messages;
        const windows::Handle server(::CreateNamedPipeW(
            pipeName.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 0,
            65536, 0, nullptr));
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        const windows::Handle client(::CreateFileW(pipeName.c_str(), GENERIC_WRITE, 0, &inherit,
                                                   OPEN_EXISTING, 0, nullptr));
        if (!server.valid() || !client.valid()) return messages;
        if (RunCliWithHandles(args, client.get(), client.get()) < 0) return messages;
        for (DWORD waiting = 0; ::PeekNamedPipe(server.get(), nullptr, 0, nullptr, &waiting,
                                                nullptr) && waiting > 0;) {
            std::string message(waiting, '\0');
            DWORD got = 0;
            if (!::ReadFile(server.get(), message.data(), waiting, &got, nullptr)) break;
            messages.push_back(message.substr(0, got));
        }
        return messages;
    };
    const std::string shown = "'" + name + "'";
    EXPECT_EQ(writes({"--check", name, name}),
              std::vector<std::string>(2, shown + ": Sorry only *.PS files\n"));
    EXPECT_EQ(writes({name, name}),
              std::vector<std::string>(2, "a5merge-cli: " + shown + ": Sorry only *.PS files\n"));
}

// Standard output a file: written at its end, a refused sheet is cut back to
// exactly what it held; written from inside, the sheet waits, so that a
// refused one leaves every byte it held.
TEST_F(CliTest, StandardOutputInAFileKeepsWhatItHeld) {
    dir.Write("big.ps", AcceptedInput(std::string(400 * 1024, 'b') + "\r\nshowpage\r\n"));
    dir.Write("bad.ps", "not PostScript\r\n");
    // Runs `args` with standard output the file `name`, from `at` (-1: its end).
    const auto runInto = [&](const std::string& name, LONGLONG at,
                             const std::vector<std::string>& args) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        const windows::Handle file(::CreateFileW(windows::Wide(dir.Path(name)).c_str(),
                                                 GENERIC_READ | GENERIC_WRITE,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                                 OPEN_EXISTING, 0, nullptr));
        LARGE_INTEGER to{};
        to.QuadPart = at < 0 ? 0 : at;
        if (!file.valid() || !::SetFilePointerEx(file.get(), to, nullptr,
                                                 at < 0 ? FILE_END : FILE_BEGIN)) {
            ADD_FAILURE() << name << ": " << ::GetLastError();
            return -1;
        }
        const windows::Handle errors(::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE,
                                                   &inherit, OPEN_EXISTING, 0, nullptr));
        return errors.valid() ? RunCliWithHandles(args, file.get(), errors.get(), dir.Path(""))
                              : -1;
    };
    const std::string sheet = Cli({"-o", "-", "left.ps", "big.ps"}).out;
    const std::string log = dir.Write("log.PS", "held before\r\n");
    // BOTTOM is written first: the sheet is refused after 400 KiB of it.
    EXPECT_EQ(runInto("log.PS", -1, {"-o", "-", "bad.ps", "big.ps"}), 1);
    EXPECT_EQ(runInto("log.PS", -1, {"-o", "-", "left.ps", "big.ps"}), 0);
    EXPECT_TRUE(ReadBytes(log) == "held before\r\n" + sheet) << "cut back wrong";
    const std::string inside = dir.Write("inside.PS", "held before, all of it\r\n");
    EXPECT_EQ(runInto("inside.PS", 0, {"-o", "-", "bad.ps", "big.ps"}), 1);
    EXPECT_EQ(ReadBytes(inside), "held before, all of it\r\n");
}
#endif

}  // namespace
}  // namespace a5merge
