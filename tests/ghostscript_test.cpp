// Ghostscript, run for real: its command line, hostile drawings with and
// without bubblewrap, the sheet as PDF, and the check that a sheet prints right.

#include "ghostscript/ghostscript.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>

#include <tlhelp32.h>

#include "platform/windows_support.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ghostscript/raster.h"
#include "ghostscript/system_ghostscript.h"
#include "ghostscript/sheet_output.h"
#include "platform/child_process.h"
#ifdef _WIN32
#include "platform/cleanup_windows.h"
#endif
#include "platform/exit_cleanup.h"
#include "platform/file_system.h"
#include "platform/text_files.h"
#include "support/ps_samples.h"
#include "support/run_process.h"
#include "support/temp_folder.h"

namespace a5merge {
namespace {

using testing::AcceptedInput;
using testing::ReadBytes;
using testing::TempFolder;
using testing::TestData;

bool Has(const std::vector<std::string>& args, const std::string& arg) {
    return std::find(args.begin(), args.end(), arg) != args.end();
}

std::size_t IndexOf(const std::vector<std::string>& args, const std::string& arg) {
    return static_cast<std::size_t>(std::find(args.begin(), args.end(), arg) - args.begin());
}

TEST(GhostscriptCommandTest, EveryRunIsSafeAndEveryPdfTheSame) {
    const std::vector<std::string> safety = {"-dSAFER",     "-dBATCH",          "-dNOPAUSE",
                                             "-dQUIET",     "-sstdout=%stderr", "-sPAPERSIZE=a4",
                                             "-dFIXEDMEDIA"};
    for (const auto& device : {PdfDevice(), GrayRasterDevice(30), ColourRasterDevice(96)}) {
        const std::vector<std::string> args = GhostscriptArguments(device);
        for (const std::string& flag : safety) {
            EXPECT_LT(IndexOf(args, flag), IndexOf(args, device.front())) << flag;
        }
        // Result to standard output, document from standard input: no name
        // of ours reaches Ghostscript.
        ASSERT_GE(args.size(), 2u);
        EXPECT_EQ(args[args.size() - 2], "-sOutputFile=-");
        EXPECT_EQ(args.back(), "-");
        for (const std::string& arg : args) EXPECT_EQ(arg.find("NOSAFER"), std::string::npos);
    }
    for (const char* flag :
         {"-sDEVICE=pdfwrite", "-dPDFSETTINGS=/prepress", "-dAutoRotatePages=/None",
          "-dOmitInfoDate", "-dOmitID", "-dOmitXMP"}) {
        EXPECT_TRUE(Has(PdfDevice(), flag)) << flag;
    }

#ifndef _WIN32  // bubblewrap's command line
    GhostscriptSettings sandboxed;
    sandboxed.program = "/usr/bin/gs";
    const Ghostscript ghostscript(sandboxed);
    if (!ghostscript.Sandboxed()) GTEST_SKIP() << "bubblewrap is not installed or cannot run here";
    const std::vector<std::string> command = ghostscript.Command(PdfDevice(), 12345678);
    EXPECT_EQ(std::filesystem::path(command.front()).filename(), "bwrap");
    for (const char* flag : {"--unshare-all", "--new-session"}) {
        EXPECT_TRUE(Has(command, flag)) << flag;
    }
    EXPECT_EQ(command[IndexOf(command, "--cap-drop") + 1], "ALL");
    // Nothing of the host may be written: the one place it writes is a /tmp
    // in memory, as large as the limit given.
    for (const char* bind : {"--bind", "--bind-try", "--dev-bind", "--dev-bind-try"}) {
        EXPECT_FALSE(Has(command, bind)) << bind;
    }
    const std::size_t tmpfs = IndexOf(command, "--tmpfs");
    ASSERT_LT(tmpfs + 1, command.size());
    EXPECT_EQ(command[tmpfs + 1], "/tmp");
    EXPECT_EQ(command[tmpfs - 2], "--size");
    EXPECT_EQ(command[tmpfs - 1], "12345678");
    EXPECT_FALSE(Has(command, "/home"));
    // A guard that says the sandbox is made, kills it once its lifeline
    // ends, then becomes Ghostscript.
    const std::size_t guard = IndexOf(command, "--") + 1;
    ASSERT_LT(guard + 3, command.size());
    EXPECT_EQ(command[guard], "/bin/sh");
    EXPECT_EQ(command[guard + 2],
              "printf '%s' 'a5merge: sandbox made\n' >&2; (read -r line <&4; kill -KILL 0) & exec "
              "\"$0\" \"$@\"");
    const std::size_t program = guard + 3;
    EXPECT_EQ(command[program], "/usr/bin/gs");
    EXPECT_EQ(
        std::vector<std::string>(command.begin() + static_cast<long>(program) + 1, command.end()),
        GhostscriptArguments(PdfDevice()));
#endif
}

TEST(GhostscriptCommandTest, ErrorsAreShortened) {
    const struct {
        std::string errors;
        std::string shown;
    } cases[] = {
        {"Error: /undefined in foo\nOperand stack:\n\nExecution stack:\n   %interp_exit\n",
         "Error: /undefined in foo"},
        {"some (print) output\r\nError: /syntaxerror in --token--\n",
         "Error: /syntaxerror in --token--"},
        {"\n  GPL Ghostscript 10.00.0: Unrecoverable error, exit code 1\n",
         "GPL Ghostscript 10.00.0: Unrecoverable error, exit code 1"},
        {"Error: /a\x1b[2Jb in x\n", "Error: /a?[2Jb in x"},
        {"Error: " + std::string(300, 'x'), "Error: " + std::string(193, 'x') + "..."},
        // Cut at 200 bytes, between UTF-8 characters: an é at 199 goes whole.
        {"Error: " + std::string(192, 'x') + "\xc3\xa9 more",
         "Error: " + std::string(192, 'x') + "..."},
        {"Error: " + std::string(191, 'x') + "\xc3\xa9 more",
         "Error: " + std::string(191, 'x') + "\xc3\xa9..."},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ShortGhostscriptError(c.errors), c.shown) << c.errors;
}

TEST(GhostscriptCommandTest, WhatARunMayWriteFollowsTheDocument) {
    constexpr std::uint64_t kMiB = 1 << 20;
    const struct {
        std::uint64_t document, limit;
    } cases[] = {
        {0, 64 * kMiB},
        {1000, 64 * kMiB + 4000},
        {100 * kMiB, 464 * kMiB},
        {240 * kMiB, 1024 * kMiB},
        {std::uint64_t{1} << 40, 1024 * kMiB},
    };
    for (const auto& c : cases) EXPECT_EQ(GhostscriptWriteLimit(c.document), c.limit) << c.document;
    EXPECT_EQ(WroteTooMuchText(64 * kMiB + 4000),
              "Ghostscript was stopped: the document made it write more than 64 MiB of files, the "
              "most allowed for a document of its size");
}

TEST(GhostscriptRunTest, MissingGhostscriptNamesThePackage) {
    GhostscriptSettings settings;
    settings.program = "/nonexistent/gs";
    const Ghostscript missing(settings);
    EXPECT_FALSE(missing.Found());
    const GhostscriptResult result = missing.Run(PdfDevice(), "/nonexistent/doc.ps");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.failure, kGhostscriptMissing);
#ifdef _WIN32
    EXPECT_EQ(result.failure.rfind("Ghostscript for Windows was not found: install it", 0), 0u);
#else
    EXPECT_EQ(result.failure, "Ghostscript (gs) was not found: install the package ghostscript");
#endif

    // Installed while the program runs, it is found from then on; removed, missed.
    TempFolder dir;
    settings.program = dir.Path("gs.exe");
    const Ghostscript later(settings);
    EXPECT_FALSE(later.Found());
    dir.Write("gs.exe", "MZ");
    EXPECT_TRUE(later.Found());
    EXPECT_TRUE(Has(later.Command(PdfDevice(), 1), settings.program));
    std::filesystem::remove(testing::Native(settings.program));
    EXPECT_FALSE(later.Found());
    EXPECT_EQ(later.Run(PdfDevice(), "/nonexistent/doc.ps").failure, kGhostscriptMissing);
}


#ifdef _WIN32
// Without A5MERGE_GHOSTSCRIPT, the Ghostscript the installers registered is
// the highest version's (by its numbers: 10.10 after 10.02.1 after 9.56.1),
// one whose program is missing passed over.
TEST(GhostscriptRunTest, TheRegistrysHighestVersionIsTaken) {
    TempFolder dir;
    const struct {
        const wchar_t* version;
        const char* folder;
        bool program;
    } registered[] = {
        {L"9.56.1", "gs9561", true},
        {L"10.10.0", "gs10100", true},
        {L"10.02.1", "gs10021", true},
        {L"10.20.0", "gs10200", false},
    };
    for (const auto& r : registered) {
        testing::MakeFolder(dir.Path(r.folder));
        if (r.program) dir.Write(std::string(r.folder) + "\\gswin64c.exe", "MZ");
        const std::wstring key = std::wstring(L"Software\\GPL Ghostscript\\") + r.version;
        const std::wstring dll = windows::Wide(dir.Path(std::string(r.folder) + "\\gsdll64.dll"));
        ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"GS_DLL", REG_SZ, dll.c_str(),
                                    static_cast<DWORD>((dll.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    const char* named = std::getenv("A5MERGE_GHOSTSCRIPT");
    const std::string kept = named != nullptr ? named : "";
    testing::SetEnvironment("A5MERGE_GHOSTSCRIPT", nullptr);
    const std::string found = FindGhostscript();
    // One registered after the program started is found at its next use.
    const Ghostscript running;
    EXPECT_EQ(running.Command(PdfDevice(), 1).front(), dir.Path("gs10100\\gswin64c.exe"));
    const std::wstring key = L"Software\\GPL Ghostscript\\10.30.0";
    const std::wstring dll = windows::Wide(dir.Path("gs10300\\gsdll64.dll"));
    testing::MakeFolder(dir.Path("gs10300"));
    dir.Write("gs10300\\gswin64c.exe", "MZ");
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"GS_DLL", REG_SZ, dll.c_str(),
                                static_cast<DWORD>((dll.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    EXPECT_EQ(running.Command(PdfDevice(), 1).front(), dir.Path("gs10300\\gswin64c.exe"));
    ::RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
    if (!kept.empty()) testing::SetEnvironment("A5MERGE_GHOSTSCRIPT", kept.c_str());
    for (const auto& r : registered) {
        ::RegDeleteKeyW(HKEY_CURRENT_USER,
                        (std::wstring(L"Software\\GPL Ghostscript\\") + r.version).c_str());
    }
    EXPECT_EQ(found, dir.Path("gs10100\\gswin64c.exe"));
}
#endif

// Drawings that pass the input check but attack the machine, each run with
// and without bubblewrap, with GS_OPTIONS in our environment asking for less
// safety: nothing they try may happen, and none may hang us.
class HostileDrawingTest : public ::testing::TestWithParam<bool> {};

#ifdef _WIN32  // the job object is the only way Ghostscript runs
const auto kSandboxes = ::testing::Values(false);
#else
const auto kSandboxes = ::testing::Values(true, false);
#endif
INSTANTIATE_TEST_SUITE_P(Sandbox, HostileDrawingTest, kSandboxes,
                         [](const auto& info) { return info.param ? "bubblewrap" : "safer_only"; });

TEST_P(HostileDrawingTest, NothingHappensAndNothingHangs) {
    GhostscriptSettings settings;
    settings.sandbox = GetParam();
    settings.timeLimit = std::chrono::seconds(2);
    const Ghostscript ghostscript(settings);
    ASSERT_TRUE(ghostscript.Found()) << "install the package ghostscript";
    if (GetParam() && !ghostscript.Sandboxed()) GTEST_SKIP() << "bubblewrap cannot run here";
    EXPECT_EQ(ghostscript.Sandboxed(), GetParam());
    testing::SetEnvironment("GS_OPTIONS", "-dNOSAFER");

    TempFolder dir;
    const std::string secret = dir.Write("secret.txt", "the secret 4711");
    const std::string victim = dir.Write("victim.txt", "keep me");
    const std::string systemVictim =
        TemporaryFolder() + PlatformSeparator() + "a5merge-victim-" + testing::ProcessId() + ".txt";
    std::ofstream(systemVictim) << "keep me too";
    const std::string writtenHere = dir.Path("written.txt");
    const std::string writtenInTmp =
        TemporaryFolder() + PlatformSeparator() + "a5merge-written-" + testing::ProcessId() + ".txt";

    const std::string bounded = "Ghostscript was stopped: the document made it write more than ";
    using testing::PsPath;
    struct Case {
        const char* what;
        std::string drawing;
        bool fails;                // Ghostscript says so; otherwise it may succeed unharmed
        std::string failure = "";  // how it fails, when that is ours to say
    };
    std::vector<Case> cases = {
        {"an endless loop", "{ } loop", true},
        {"writes in the temporary folder",
         "(" + PsPath(writtenInTmp) + ") (w) file (x) writestring", false},
        {"writes in our folder", "(" + PsPath(writtenHere) + ") (w) file (x) writestring", false},
        {"deletes in our folder", "(" + PsPath(victim) + ") deletefile", false},
        {"deletes in the temporary folder", "(" + PsPath(systemVictim) + ") deletefile", false},
        {"reads a file outside",
         "(" + PsPath(secret) + ") (r) file 100 string readstring pop print", true},
        {"runs a command", "(%pipe%touch " + PsPath(writtenHere) + ") (w) file", true},
        {"fills its temporary folder with files",
         "/s 65536 string def { null (w) .tempfile exch pop /f exch def 0 1 100 { pop f s "
         "writestring } for f closefile } loop",
         true, bounded},
        {"writes one endless file",
         "/s 65536 string def null (w) .tempfile exch pop /f exch def { f s writestring } loop",
         true, bounded},
    };
#ifndef _WIN32
    // Wine does not hold a job to its memory limit: on Windows the system
    // stops this as Linux does; under wine it would take the machine's memory.
    cases.push_back({"a memory hog", "0 1 100000000 { pop 10000000 string } for", true});
#endif
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string document =
            dir.Write("hostile.ps", AcceptedInput(c.drawing + "\r\nshowpage\r\n"));
        const auto start = std::chrono::steady_clock::now();
        const GhostscriptResult result = ghostscript.Run(PdfDevice(), document);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        if (c.fails) {
            EXPECT_FALSE(result.ok);
        }
        EXPECT_EQ(result.failure.substr(0, c.failure.size()), c.failure);
        EXPECT_EQ(result.output.find("4711"), std::string::npos);
        EXPECT_EQ(result.failure.find("4711"), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(writtenHere));
    EXPECT_FALSE(std::filesystem::exists(writtenInTmp));
    EXPECT_EQ(ReadBytes(victim), "keep me");
    EXPECT_EQ(ReadBytes(systemVictim), "keep me too");
    std::filesystem::remove(systemVictim);
    testing::SetEnvironment("GS_OPTIONS", nullptr);
}


TEST(GhostscriptRunTest, LimitsAreSaid) {
    GhostscriptSettings settings;
    settings.timeLimit = std::chrono::seconds(2);
    const Ghostscript ghostscript(settings);
    TempFolder dir;
    const std::string loop = dir.Write("loop.ps", AcceptedInput("{ } loop\r\n"));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ghostscript.Run(PdfDevice(), loop).failure,
              "Ghostscript did not finish within 2 s");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::seconds(2));
    EXPECT_LT(took, std::chrono::milliseconds(3500)) << "the deadline was not kept";
#ifdef _WIN32
    // Ended with its job: nothing of it runs on.
    EXPECT_EQ(testing::RunningProcesses(L"gswin64c.exe", {::GetCurrentProcessId()}), 0);
#else
    // Stopped by the memory limit, long before the time limit. (Wine does
    // not hold a job to its memory limit; Windows does.)
    settings.timeLimit = std::chrono::seconds(30);
    const Ghostscript patient(settings);
    const std::string hog =
        dir.Write("hog.ps", AcceptedInput("0 1 100000000 { pop 10000000 string } for\r\n"));
    EXPECT_EQ(patient.Run(PdfDevice(), hog).failure,
              "Ghostscript: Error: /VMerror in --string--");
#endif
    const std::string wrong = dir.Write("wrong.ps", AcceptedInput("nosuchoperator\r\n"));
    EXPECT_EQ(ghostscript.Run(PdfDevice(), wrong).failure,
              "Ghostscript: Error: /undefined in nosuchoperator");

    std::atomic<bool> cancel{true};
    const std::string slow = dir.Write("slow.ps", AcceptedInput("{ } loop\r\n"));
    const GhostscriptResult cancelled = ghostscript.Run(PdfDevice(), slow, {}, &cancel);
    EXPECT_TRUE(cancelled.cancelled);
}

// The limits of a child table's case: a file size, the size of the files
// in `dir`, a wall clock (zero: none of that kind).
ChildLimits LimitsIn(const TempFolder& dir, std::uint64_t fileBytes, std::uint64_t folderBytes,
                     int ms) {
    ChildLimits limits;
    limits.fileBytes = fileBytes;
    limits.folder = folderBytes > 0 ? dir.Path("") : "";
    limits.folderBytes = folderBytes;
    limits.wallClock = std::chrono::milliseconds(ms);
    return limits;
}

#ifdef _WIN32
// Each limit a child runs under ends it, as the kind of ending says, and
// with its job nothing of it runs on: not a child it starts, not one that
// ends without reading its input.
TEST(ChildProcessTest, EachLimitEndsTheChild) {
    TempFolder dir;
    const std::string input = dir.Write("input.ps", "%!PS\r\n");
    const auto limits = [&dir](std::uint64_t fileBytes, std::uint64_t folderBytes, int ms) {
        return LimitsIn(dir, fileBytes, folderBytes, ms);
    };
    // Windows holds a job to its processor time; wine does not (nor to its
    // memory, nor to one process): there the wall clock ends it.
    const bool wine = ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version");
    ChildLimits cpu = limits(0, 0, 2000);
    cpu.cpuSeconds = 1;
    const struct {
        const char* what;
        std::vector<std::string> args;
        ChildLimits limits;
        ChildResult::Ending ending;
        std::string output = "";
    } cases[] = {
        {"its output file too large", {"print", "3000000"}, limits(1 << 20, 0, 0),
         ChildResult::Ending::WroteTooMuch},
        {"too many bytes in its folder", {"files", "5", "300000"}, limits(0, 1 << 20, 0),
         ChildResult::Ending::WroteTooMuch},
        {"many small files", {"files", "2000", "1"}, limits(0, 1 << 20, 0),
         ChildResult::Ending::WroteTooMuch},
        {"the wall clock", {"sleep", "5000"}, limits(0, 0, 300), ChildResult::Ending::TimedOut},
        {"the processor's time", {"spin"}, cpu,
         wine ? ChildResult::Ending::TimedOut : ChildResult::Ending::CpuLimit},
        {"within its limits until the clock", {"write", "small", "500000"}, limits(1 << 20, 1 << 20, 300),
         ChildResult::Ending::TimedOut},
        {"a child of its own", {"spawn"}, limits(0, 0, 1000), ChildResult::Ending::TimedOut},
        {"its input unread", {"quit"}, limits(0, 0, 0), ChildResult::Ending::Exited},
    };
    // Made in its job (never put there after it was made, when it could
    // have run, or been left, outside).
    static int assigned = 0;
    const auto assign = windows::Calls().assignProcessToJob;
    windows::Calls().assignProcessToJob = [](HANDLE job, HANDLE process) -> BOOL {
        ++assigned;
        return ::AssignProcessToJobObject(job, process);
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::string& name : dir.Entries()) {
            if (name != "input.ps") std::filesystem::remove(testing::Native(dir.Path(name)));
        }
        ChildRequest request;
        request.argv = {A5MERGE_STAND_IN};
        request.argv.insert(request.argv.end(), c.args.begin(), c.args.end());
        request.folder = dir.Path("");
        request.inputFile = input;
        if (c.args.front() == "print") request.outputFile = dir.Path("out");
        request.limits = c.limits;
        const auto start = std::chrono::steady_clock::now();
        const ChildResult result = RunChild(request);
        EXPECT_EQ(static_cast<int>(result.ending), static_cast<int>(c.ending))
            << result.startFailure << result.errors;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
        EXPECT_EQ(testing::RunningProcesses(L"stand_in_child.exe", {::GetCurrentProcessId()}), 0)
            << "a stand-in outlived its job";
        if (c.args.front() == "spawn") {
            // One process in the job: the second is refused (under wine it
            // starts, and the job's end kills it).
            EXPECT_EQ(result.output, wine ? "started\n" : "refused\n");
        }
    }
    windows::Calls().assignProcessToJob = assign;
    EXPECT_EQ(assigned, 0);
}
#endif

#ifndef _WIN32
// Each limit a child runs under ends it, as the kind of ending says.
TEST(ChildProcessTest, EachLimitEndsTheChild) {
    TempFolder dir;
    const auto limits = [&dir](std::uint64_t fileBytes, std::uint64_t folderBytes, int ms) {
        return LimitsIn(dir, fileBytes, folderBytes, ms);
    };
    const struct {
        const char* what;
        std::string script;
        ChildLimits limits;
        ChildResult::Ending ending;
    } cases[] = {
        {"a file too large", "exec head -c 3000000 /dev/zero > one", limits(1 << 20, 0, 0),
         ChildResult::Ending::WroteTooMuch},
        {"too many files in its folder",
         "for i in 1 2 3 4 5 6; do head -c 500000 /dev/zero > f$i; sleep 0.05; done; sleep 5",
         limits(0, 1 << 20, 0), ChildResult::Ending::WroteTooMuch},
        {"many empty files", "i=0; while [ $i -lt 2000 ]; do : > e$i; i=$((i+1)); done; sleep 5",
         limits(0, 1 << 20, 0), ChildResult::Ending::WroteTooMuch},
        {"the wall clock", "sleep 5", limits(0, 0, 300), ChildResult::Ending::TimedOut},
        {"within its limits", "head -c 500000 /dev/zero > small", limits(1 << 20, 1 << 20, 0),
         ChildResult::Ending::Exited},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::string& name : dir.Entries()) std::filesystem::remove(dir.Path(name));
        ChildRequest request;
        request.argv = {"/bin/sh", "-c", c.script};
        request.environment = {"PATH=/usr/bin:/bin"};
        request.folder = dir.Path("");
        request.limits = c.limits;
        const auto start = std::chrono::steady_clock::now();
        const ChildResult result = RunChild(request);
        EXPECT_EQ(static_cast<int>(result.ending), static_cast<int>(c.ending)) << result.errors;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    }
}

// The sandbox itself, with a shell in place of Ghostscript (so that -dSAFER
// plays no part): no network but loopback, the system read-only, no home
// folders, and a /tmp in memory no larger than asked for.
TEST(SandboxTest, WhatRunsInsideSeesNoNetworkAndWritesNothingOfTheHost) {
    const std::string bwrap = SandboxProgram();
    if (bwrap.empty()) GTEST_SKIP() << "bubblewrap is not installed";
    ChildRequest request;
    request.argv = SandboxedCommand(
        bwrap,
        {"/bin/sh", "-c",
         "ls /sys/class/net 2>/dev/null; cut -d: -f1 /proc/net/dev | tail -n +3 | tr -d ' '; "
         "touch /usr/a5merge-probe 2>/dev/null && echo wrote-usr; "
         "ls /home 2>/dev/null && echo sees-home; "
         "df -k /tmp | tail -1 | awk '{ print \"tmp \" $2 }'; pwd"},
        8 << 20);
    request.environment = {"PATH=/usr/bin:/bin"};
    request.limits.wallClock = std::chrono::seconds(10);
    request.lifeline = true;
    const ChildResult result = RunChild(request);
    if (result.ending != ChildResult::Ending::Exited || result.status != 0) {
        GTEST_SKIP() << "bubblewrap cannot make its sandbox here: " << result.errors;
    }
    EXPECT_EQ(result.output, "lo\ntmp 8192\n/tmp\n");
    EXPECT_FALSE(std::filesystem::exists("/usr/a5merge-probe"));
}

// Ghostscript outside /usr, also in a temporary folder (which the sandbox's
// own /tmp must not hide), still runs in the sandbox.
TEST(GhostscriptRunTest, AGhostscriptOutsideUsrIsSandboxedToo) {
    TempFolder dir;
    const std::string copy = dir.Path("gs");
    std::filesystem::copy_file("/usr/bin/gs", copy);
    ::chmod(copy.c_str(), 0755);
    ::chmod(dir.Path("").c_str(), 0755);
    GhostscriptSettings settings;
    settings.program = copy;
    const Ghostscript ghostscript(settings);
    ASSERT_TRUE(ghostscript.Found());
    if (SandboxProgram().empty()) GTEST_SKIP() << "bubblewrap is not installed";
    std::string why;
    EXPECT_TRUE(ghostscript.Sandboxed(&why)) << why;
    EXPECT_EQ(ghostscript.Command(PdfDevice(), 1 << 20).front(), SandboxProgram());
    const std::string sample = dir.Write("sample.ps", ReadBytes(TestData("top.ps")));
    const GhostscriptResult result = ghostscript.Run(PdfDevice(), sample);
    EXPECT_TRUE(result.ok) << result.failure;
    EXPECT_EQ(result.output.rfind("%PDF-", 0), 0u);
}

// A run stopped before its sandbox said it was made (a slow machine, a
// time limit) says nothing of the sandbox: the next run is sandboxed too.
TEST(GhostscriptRunTest, ARunStoppedEarlyLeavesTheSandboxOn) {
    TempFolder dir;
    dir.Write("bwrap", "#!/bin/sh\nsleep 5\n");
    ::chmod(dir.Path("bwrap").c_str(), 0755);
    const std::string path = std::getenv("PATH");
    ::setenv("PATH", dir.Path("").c_str(), 1);
    GhostscriptSettings settings;
    settings.program = "/usr/bin/gs";
    settings.timeLimit = std::chrono::seconds(1);
    const Ghostscript ghostscript(settings);
    ::setenv("PATH", path.c_str(), 1);
    const std::string sample = dir.Write("sample.ps", ReadBytes(TestData("top.ps")));
    for (int run = 1; run <= 2; ++run) {
        EXPECT_EQ(ghostscript.Run(PdfDevice(), sample).failure,
                  "Ghostscript did not finish within 1 s")
            << "run " << run;
    }
}

// What the sandbox is, is learnt from the first run: a document that says
// what bubblewrap says when it fails, and fails, leaves the sandbox on.
TEST(GhostscriptRunTest, ADocumentCannotTurnTheSandboxOff) {
    if (SandboxProgram().empty()) GTEST_SKIP() << "bubblewrap is not installed";
    TempFolder dir;
    const std::string liar = dir.Write(
        "liar.ps", "(bwrap: No permissions to create a new namespace\n) print flush nosuchoperator\n");
    GhostscriptSettings settings;
    settings.program = "/usr/bin/gs";
    const Ghostscript ghostscript(settings);
    const GhostscriptResult lied = ghostscript.Run(PdfDevice(), liar);
    EXPECT_FALSE(lied.ok);
    EXPECT_EQ(lied.failure, "Ghostscript: Error: /undefined in nosuchoperator");
    std::string why;
    EXPECT_TRUE(ghostscript.Sandboxed(&why)) << why;
    EXPECT_EQ(ghostscript.Command(PdfDevice(), 1).front(), SandboxProgram());
}
#endif

// A drawing replaced by a FIFO after it was accepted: the render says so at
// once, and never waits for a writer.
TEST(GhostscriptRunTest, RenderingAFifoFailsAtOnce) {
    TempFolder dir;
#ifdef _WIN32
    const std::string fifo = dir.Path("nul.ps");  // a device, in any folder
#else
    const std::string fifo = dir.Path("bottom.ps");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
#endif
    const Ghostscript ghostscript;
    const auto start = std::chrono::steady_clock::now();
    // The sheet's render says which half it is.
    const struct {
        RenderedPage page;
        const char* half;
    } renders[] = {
        {RenderSheet(ghostscript, {std::nullopt, fifo}, 30), "BOTTOM: "},
        {RenderDrawing(ghostscript, fifo, 30), ""},
        {RenderSheet(ghostscript, {dir.Write("t.ps", AcceptedInput()), fifo}, 30), "BOTTOM: "},
        {RenderSheet(ghostscript, {fifo, dir.Write("b.ps", AcceptedInput())}, 30), "TOP: "},
    };
    for (const auto& render : renders) {
        EXPECT_FALSE(render.page.ok);
        EXPECT_EQ(render.page.failure, render.half + fifo + ": Not a regular file");
    }
    // A drawing Ghostscript cannot read, named by its half and its name.
    const std::string broken = dir.Write("broken.ps", AcceptedInput("nosuchoperator\r\nshowpage\r\n"));
    EXPECT_EQ(RenderSheet(ghostscript, {dir.Path("t.ps"), broken}, 10).failure.rfind(
                  "BOTTOM, broken.ps: Ghostscript: Error: /undefined", 0),
              0u);
    EXPECT_EQ(RenderSheet(ghostscript, {broken, std::nullopt}, 10).failure.rfind(
                  "TOP, broken.ps: Ghostscript: Error: /undefined", 0),
              0u);
    EXPECT_EQ(PrintProblems(ghostscript, fifo),
              std::vector<std::string>{fifo + ": Not a regular file"});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

#ifdef _WIN32
// Ctrl+C, Ctrl+Break or the console's closing remove the private folders
// (a link in one removed as a link), through the handler the first of them
// installs; then the system's own handler ends the program. (Wine gives no
// console event to a program under CTest: the handler is called here as
// the system would.)
TEST(GhostscriptRunTest, TheConsolesEndRemovesThePrivateFolders) {
    TempFolder dir;
    testing::SetEnvironment("TMP", dir.Path("").c_str());
    {
        PrivateFolder folder;
        std::ofstream(testing::Native(folder.Path("sheet.ps"))) << "a sheet";
        EXPECT_EQ(dir.Entries().size(), 1u);
        // Installed: it can be taken away (and is given back).
        ASSERT_TRUE(::SetConsoleCtrlHandler(windows::OnConsoleEnd, FALSE));
        ASSERT_TRUE(::SetConsoleCtrlHandler(windows::OnConsoleEnd, TRUE));
        EXPECT_EQ(windows::OnConsoleEnd(CTRL_C_EVENT), FALSE) << "the program must still end";
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{});
    }
    testing::SetEnvironment("TMP", nullptr);
}
#else
// A program that ends at once (the window's EXIT) first kills its children
// and removes its private folders, as a signal does.
TEST(GhostscriptRunTest, NothingOutlivesAProgramThatEndsAtOnce) {
    TempFolder dir;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t program = ::fork();
    ASSERT_GE(program, 0);
    if (program == 0) {
        ::setenv("TMPDIR", dir.Path("").c_str(), 1);
        PrivateFolder folder;
        std::ofstream(folder.Path("sheet.ps")) << "a sheet";
        // A child that would not die with us by itself (one with a
        // lifeline, as a sandbox is, but that does not watch it).
        std::thread([] {
            ChildRequest sleeper;
            sleeper.argv = {"/bin/sleep", "60"};
            sleeper.lifeline = true;
            RunChild(sleeper);
        }).detach();
        ::usleep(300'000);
        (void)!::write(ready[1], "r", 1);
        ::usleep(100'000);
        CleanUpBeforeExit();
        std::_Exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    ::waitpid(program, nullptr, 0);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{}) << "the private folder was left";
    EXPECT_EQ(testing::RunProcess(
                  {"/bin/sh", "-c", "ps -eo stat,args | grep -c '^[^Z].* /bin/sleep 60$'"})
                  .out,
              "0\n")
        << "the child outlived its parent";
}
#endif

// The sample pair as the merge writes it, and as PDF.
class SheetPdfTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ghostscript.Found()) << "install the package ghostscript";
        job.top = dir.Write("left.ps", ReadBytes(TestData("top.ps")));
        job.bottom = dir.Write("right.ps", ReadBytes(TestData("bottom.ps")));
        job.checkInputs = true;
    }

    SheetWritten Write(const std::string& name, SheetFormat format, bool verify = false) {
        job.output = dir.Path(name);
        return WriteSheetAs(state, files, job, format, verify, ghostscript);
    }

    // Ghostscript's pages of `path`, at 72 dots per inch: a pixel a point.
    std::vector<Raster> Render(const std::string& path) {
        const GhostscriptResult result = ghostscript.Run(GrayRasterDevice(72), path);
        EXPECT_TRUE(result.ok) << result.failure;
        std::vector<Raster> pages;
        EXPECT_TRUE(ReadRasters(result.output, pages));
        return pages;
    }

    Ghostscript ghostscript;
    TempFolder dir;
    MergeState state;
    TextFiles files;
    SheetJob job;
};

// Pixels of rows [from, from + rows) of `a` that differ from those of `b`
// starting at row `bFrom`.
int Differing(const Raster& a, int from, const Raster& b, int bFrom, int rows) {
    int differing = 0;
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < a.width; ++x) differing += a.At(x, from + y) != b.At(x, bFrom + y);
    }
    return differing;
}

TEST_F(SheetPdfTest, OneA4PageOfVectorsWithBottomLowAndTopHigh) {
    const SheetWritten written = Write("sheet.pdf", SheetFormat::Pdf);
    ASSERT_EQ(written.sheet.outcome, SheetResult::Outcome::Written)
        << (written.sheet.error ? written.sheet.error->what() : "");
    const std::string pdf = dir.Path("sheet.pdf");
    EXPECT_EQ(ReadBytes(pdf).rfind("%PDF-", 0), 0u);

#ifndef _WIN32  // poppler's tools are Linux programs
    const testing::ProcessResult info = testing::RunProcess({"/usr/bin/pdfinfo", pdf});
    EXPECT_NE(info.out.find("Pages:           1\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Page size:       595 x 842 pts (A4)"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Page rot:        0"), std::string::npos) << info.out;
    const testing::ProcessResult images = testing::RunProcess({"/usr/bin/pdfimages", "-list", pdf});
    EXPECT_EQ(std::count(images.out.begin(), images.out.end(), '\n'), 2) << images.out;
    const testing::ProcessResult fonts = testing::RunProcess({"/usr/bin/pdffonts", pdf});
    EXPECT_NE(fonts.out.find("Helvetica"), std::string::npos) << fonts.out;
    EXPECT_NE(fonts.out.find("Type 1C           WinAnsi          yes yes"), std::string::npos)
        << "embedded: " << fonts.out;
#endif

    // Pixel for pixel: the upper half is TOP's drawing moved up 405 points,
    // the lower half below the overlap is BOTTOM's, as each renders alone.
    const std::vector<Raster> sheet = Render(pdf);
    const std::vector<Raster> top = Render(job.top);
    const std::vector<Raster> bottom = Render(job.bottom);
    ASSERT_EQ(sheet.size(), 1u);
    ASSERT_EQ(sheet[0].width, 595);
    ASSERT_EQ(sheet[0].height, 842);
    EXPECT_TRUE(InkIn(sheet[0], 0, 421));
    EXPECT_TRUE(InkIn(sheet[0], 437, 842));
    EXPECT_EQ(Differing(sheet[0], 0, top[0], 405, 421), 0);
    EXPECT_EQ(Differing(sheet[0], 437, bottom[0], 437, 405), 0);
    EXPECT_GT(Differing(sheet[0], 0, bottom[0], 405, 421), 1000) << "the drawings differ";

    // The same bytes whatever the name, the time, or a second run.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ASSERT_EQ(Write("other name.PDF", SheetFormat::Pdf).sheet.outcome,
              SheetResult::Outcome::Written);
    EXPECT_EQ(ReadBytes(dir.Path("other name.PDF")), ReadBytes(pdf));
}

TEST_F(SheetPdfTest, APdfThatCannotBeMadeWritesNothing) {
    job.top = dir.Write("wrong.ps", AcceptedInput("nosuchoperator\r\nshowpage\r\n"));
    const std::string old = dir.Write("sheet.pdf", "precious");
    const SheetWritten written = Write("sheet.pdf", SheetFormat::Pdf);
    EXPECT_EQ(written.sheet.outcome, SheetResult::Outcome::Failed);
    ASSERT_TRUE(written.sheet.error.has_value());
    EXPECT_EQ(written.sheet.error->path(), old);
    EXPECT_EQ(written.sheet.error->reason(), "Ghostscript: Error: /undefined in nosuchoperator");
    EXPECT_EQ(ReadBytes(old), "precious");
    EXPECT_EQ(dir.Entries(),
              (std::vector<std::string>{"left.ps", "right.ps", "sheet.pdf", "wrong.ps"}));
}

// Sheets that break as real PostScript from other programs breaks them: the
// line rules stay, and the check tells before paper is wasted.
TEST_F(SheetPdfTest, TheCheckSaysWhatWillNotPrint) {
    const std::string draw = "newpath 100 100 moveto 400 300 lineto stroke\r\n";
    const std::string good = AcceptedInput(draw + "showpage\r\n");
    const std::string binary =
        AcceptedInput("currentfile 3 string readstring\rA\rBpop pop\r\n" + draw + "showpage\r\n");
    // What --verify says of the PostScript sheet and of its PDF: empty when
    // it prints right. A PDF that Ghostscript cannot make is not written, and
    // its error says why.
    const struct {
        const char* what;
        std::string top, bottom;
        std::string postScript, pdf;
    } cases[] = {
        {"the sample pair", ReadBytes(TestData("top.ps")), ReadBytes(TestData("bottom.ps")), "",
         ""},
        {"a showpage in a procedure", good,
         AcceptedInput("/finish {\r\n  showpage } def\r\n" + draw + "finish\r\n"),
         "Ghostscript: Error: /syntaxerror", "Ghostscript: Error: /syntaxerror"},
        {"a TOP that sets the page device",
         AcceptedInput("<< /PageSize [595 842] >> setpagedevice\r\n" + draw + "showpage\r\n"), good,
         "nothing is drawn in the upper half (TOP)", "nothing is drawn in the upper half (TOP)"},
        // pdfwrite ends the page that PostScript leaves unprinted.
        {"a TOP without a page end", AcceptedInput(draw), good, "prints as 0 pages", ""},
        {"binary data with a lone CR", good, binary, "Ghostscript: Error: /undefined in ",
         "Ghostscript: Error: /undefined in "},
        {"a TOP with two page ends", AcceptedInput(draw + "showpage\r\n" + draw + "showpage\r\n"),
         good, "prints as 2 pages", "prints as 2 pages"},
    };
    for (const auto& c : cases) {
        job.top = dir.Write("t.ps", c.top);
        job.bottom = dir.Write("b.ps", c.bottom);
        job.ifExists = IfExists::Replace;
        for (const SheetFormat format : {SheetFormat::PostScript, SheetFormat::Pdf}) {
            const bool pdf = format == SheetFormat::Pdf;
            SCOPED_TRACE(std::string(c.what) + (pdf ? " as PDF" : " as PostScript"));
            const std::string name = pdf ? "checked.pdf" : "checked.PS";
            std::filesystem::remove(dir.Path(name));
            const std::string& expected = pdf ? c.pdf : c.postScript;
            const SheetWritten written = Write(name, format, true);
            if (pdf && expected.rfind("Ghostscript:", 0) == 0) {
                ASSERT_EQ(written.sheet.outcome, SheetResult::Outcome::Failed);
                EXPECT_EQ(written.sheet.error->reason().rfind(expected, 0), 0u)
                    << written.sheet.error->reason();
                EXPECT_FALSE(std::filesystem::exists(dir.Path(name)));
                continue;
            }
            ASSERT_EQ(written.sheet.outcome, SheetResult::Outcome::Written);
            EXPECT_TRUE(std::filesystem::exists(dir.Path(name))) << "it stays written";
            if (expected.empty()) {
                EXPECT_EQ(written.problems, std::vector<std::string>{});
            } else {
                ASSERT_EQ(written.problems.size(), 1u);
                EXPECT_EQ(written.problems[0].rfind(expected, 0), 0u) << written.problems[0];
            }
        }
    }
    // The binary data is right as it stands: only the line rules break it.
    EXPECT_TRUE(ghostscript.Run(GrayRasterDevice(30), dir.Write("alone.ps", binary)).ok);
}

}  // namespace
}  // namespace a5merge
