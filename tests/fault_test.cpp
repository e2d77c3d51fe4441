// Faults really caused: a full disk, a folder the user may not write, inputs
// that change between drop and merge, FIFOs and devices, a 1 GiB line, kills,
// races, file systems that cannot reserve room, limits.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include <poll.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ghostscript/ghostscript.h"
#include "input/drop_zones.h"
#include "merge/merge_command.h"
#include "merge/writer.h"
#include "platform/text_files.h"
#include "support/fake_form.h"
#include "support/ps_samples.h"
#include "support/run_process.h"
#include "support/temp_folder.h"

namespace a5merge {
namespace {

using testing::AcceptedInput;
using testing::ProcessResult;
using testing::ReadBytes;
using testing::RunProcess;
using testing::TempFolder;

// The program the tests run: the one built, unless A5MERGE_CLI_UNDER_TEST names another.
const std::string kCli = testing::ProgramUnderTest(A5MERGE_CLI, "A5MERGE_CLI_UNDER_TEST");

// An input of about `kib` KiB that the check accepts.
std::string BigInput(int kib, char mark) {
    std::string body;
    while (body.size() < static_cast<std::size_t>(kib) * 1024) {
        body += "newpath 10 10 moveto 200 200 lineto stroke % ";
        body += mark;
        body += "\r\n";
    }
    return AcceptedInput(body + "showpage\r\n");
}

// Writes an accepted input of about `mib` MiB to `name` in `dir`, its lines
// marked `mark`; returns its path.
std::string WriteBigInput(const TempFolder& dir, const std::string& name, int mib, char mark) {
    const std::string path = dir.Path(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << AcceptedInput("");
    std::string block;
    while (block.size() < (1u << 20)) {
        block += "newpath 10 10 moveto 200 200 lineto stroke % ";
        block += mark;
        block += "\r\n";
    }
    for (int i = 0; i < mib; ++i) out << block;
    out << "showpage\r\n";
    return path;
}

// Starts `argv` with its standard output to `out`; returns its process id.
pid_t Start(const std::vector<std::string>& argv, const std::string& out = "/dev/null") {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The exit status of `pid`, or minus the signal that ended it.
int WaitFor(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// The first inotify event of `mask` on `path` after it is made.
class Watch {
public:
    Watch(const std::string& path, std::uint32_t mask)
        : fd_(::inotify_init1(IN_CLOEXEC)), wd_(::inotify_add_watch(fd_, path.c_str(), mask)) {}
    ~Watch() { ::close(fd_); }
    bool Wait(int seconds) {
        pollfd in{fd_, POLLIN, 0};
        return wd_ >= 0 && ::poll(&in, 1, seconds * 1000) == 1;
    }

private:
    int fd_;
    int wd_;
};

// Where in the file `path` process `pid` reads now, or -1.
long long ReadPosition(pid_t pid, const std::string& path) {
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(fds, error)) {
        if (std::filesystem::read_symlink(entry.path(), error) != path) continue;
        std::ifstream info("/proc/" + std::to_string(pid) + "/fdinfo/" +
                           entry.path().filename().string());
        std::string key;
        long long pos = -1;
        if (info >> key >> pos && key == "pos:") return pos;
    }
    return -1;
}

bool CanMount() { return RunProcess({"/usr/bin/unshare", "--mount", "true"}).status == 0; }

// `sh -c script`, with $CLI, $TOP, $BOTTOM and $DIR set; in a mount namespace
// of its own when `ownMounts`.
ProcessResult Shell(const std::string& script, const TempFolder& dir, const std::string& top,
                    const std::string& bottom, bool ownMounts = false) {
    const std::string vars =
        "CLI='" + kCli + "' TOP='" + top + "' BOTTOM='" + bottom + "' DIR='" + dir.Path("") + "'; ";
    if (ownMounts)
        return RunProcess({"/usr/bin/unshare", "--mount", "/bin/sh", "-c", vars + script});
    return RunProcess({"/bin/sh", "-c", vars + script});
}

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        top = dir.Write("upper.ps", BigInput(200, 'T'));
        bottom = dir.Write("lower.ps", BigInput(200, 'B'));
        topBytes = ReadBytes(top);
        bottomBytes = ReadBytes(bottom);
    }

    void ExpectInputsUntouched() {
        EXPECT_EQ(ReadBytes(top), topBytes);
        EXPECT_EQ(ReadBytes(bottom), bottomBytes);
    }

    TempFolder dir;
    std::string top, bottom, topBytes, bottomBytes;
};

TEST_F(FaultTest, FullDiskOfAFileSystemOfItsOwn) {
    if (RunProcess({"/usr/bin/unshare", "--mount", "true"}).status != 0) {
        GTEST_SKIP() << "no mount namespace here (needs root); the file-size limit test stands in";
    }
    // A 64 KiB tmpfs seen only by this shell; the sheet needs about 400 KiB.
    const ProcessResult r =
        RunProcess({"/usr/bin/unshare", "--mount", "/bin/sh", "-c",
                    "set -e; D='" + dir.Path("small") +
                        "'; mkdir \"$D\"; mount --make-rprivate /; "
                        "mount -t tmpfs -o size=64k tmpfs \"$D\"; printf precious > \"$D/out.PS\"; "
                        "set +e; '" +
                        kCli + "' --force -o \"$D/out.PS\" '" + top + "' '" + bottom +
                        "'; "
                        "echo \"status=$?\"; cat \"$D/out.PS\"; echo; ls -A \"$D\""});
    EXPECT_NE(r.out.find("status=4\nprecious\nout.PS\n"), std::string::npos) << r.out << r.err;
    EXPECT_NE(
        r.err.find("Could not save " + dir.Path("small/out.PS") + ": No space left on device"),
        std::string::npos)
        << r.err;
    ExpectInputsUntouched();
}

// Targets that are not regular files: a FIFO is written into and stays a
// FIFO; a socket is refused, a folder said to be one.
TEST_F(FaultTest, TargetsThatAreNotRegularFiles) {
    const std::string expected = RunProcess({kCli, "-o", "-", top, bottom}).out;
    const std::string fifo = dir.Path("x.PS");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // The test holds a writer's end too, so that the reader reaches the end
    // once the program is done, whatever the program did to the FIFO.
    const int held = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(held, 0);
    std::string received;
    std::thread reader([&] { received = ReadBytes(fifo); });
    ProcessResult r = RunProcess({kCli, "-f", "-o", fifo, top, bottom});
    ::close(held);
    reader.join();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(received, expected);
    struct stat st {};
    EXPECT_TRUE(::stat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));

    const std::string socketPath = dir.Path("s.PS");
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::mkdir(dir.Path("folder.PS").c_str(), 0700);
    for (const auto& [args, err] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"-f", "-o", socketPath}, socketPath + ": is a socket, not a file"},
             {{"-o", dir.Path("folder.PS")}, dir.Path("folder.PS") + ": is a folder"},
         }) {
        std::vector<std::string> argv{kCli};
        argv.insert(argv.end(), args.begin(), args.end());
        argv.insert(argv.end(), {top, bottom});
        r = RunProcess(argv);
        EXPECT_EQ(r.status, 4) << err;
        EXPECT_EQ(r.err, "a5merge-cli: Could not save " + err + "\n");
    }
    EXPECT_TRUE(::stat(socketPath.c_str(), &st) == 0 && S_ISSOCK(st.st_mode));
    ::close(sock);

    // Devices of its own, on a tmpfs seen only by this shell: the null device
    // stays a device, a block device is refused.
    if (RunProcess({"/usr/bin/unshare", "--mount", "true"}).status != 0) {
        GTEST_SKIP() << "no mount namespace here (needs root) for the device targets";
    }
    r = Shell(
        "set -e; D=\"${DIR}dev\"; mkdir \"$D\"; mount --make-rprivate /; "
        "mount -t tmpfs tmpfs \"$D\"; mknod \"$D/null.PS\" c 1 3; mknod \"$D/loop.PS\" b 7 0; "
        "set +e; \"$CLI\" -f -o \"$D/null.PS\" \"$TOP\" \"$BOTTOM\"; echo \"null=$?\"; "
        "\"$CLI\" -f -o \"$D/loop.PS\" \"$TOP\" \"$BOTTOM\"; echo \"loop=$?\"; "
        "stat -c %F \"$D/null.PS\" \"$D/loop.PS\"",
        dir, top, bottom, true);
    EXPECT_EQ(r.out, dir.Path("dev/null.PS") +
                         "\nnull=0\nloop=4\ncharacter special file\nblock special file\n")
        << r.err;
    EXPECT_NE(r.err.find("loop.PS: is a block device, not a file"), std::string::npos) << r.err;
}

TEST_F(FaultTest, FileSizeLimit) {
    const std::string out = dir.Write("out.PS", "precious");
    ProcessResult r = Shell(
        "trap '' XFSZ; ulimit -f 100; exec \"$CLI\" --force -o \"${DIR}out.PS\" \"$TOP\" "
        "\"$BOTTOM\"",
        dir, top, bottom);
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_EQ(r.err, "a5merge-cli: Could not save " + out + ": File too large\n");
    EXPECT_EQ(ReadBytes(out), "precious");
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"lower.ps", "out.PS", "upper.ps"}));
    ExpectInputsUntouched();

    // A sheet smaller than one buffer: its only write is the last one.
    const std::string smallTop = dir.Write("small top.ps", ReadBytes(testing::TestData("top.ps")));
    const std::string smallBottom =
        dir.Write("small bottom.ps", ReadBytes(testing::TestData("bottom.ps")));
    r = Shell("ulimit -f 1; exec \"$CLI\" --force -o \"${DIR}out.PS\" \"$TOP\" \"$BOTTOM\"", dir,
              smallTop, smallBottom);
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_EQ(ReadBytes(out), "precious");

    // An input that is the output too, failing while it is read: its failed
    // write is a failed write, not a refusal of the input.
    const std::string bigBottom = dir.Write("big-bottom.ps", BigInput(600, 'B'));
    const std::string before = ReadBytes(bigBottom);
    r = Shell("ulimit -f 100; exec \"$CLI\" --force -o \"$BOTTOM\" \"$TOP\" \"$BOTTOM\"", dir, top,
              bigBottom);
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_EQ(r.err, "a5merge-cli: Could not save " + bigBottom + ": File too large\n");
    EXPECT_TRUE(ReadBytes(bigBottom) == before);
}

TEST_F(FaultTest, FolderWithoutWritePermission) {
    ::mkdir(dir.Path("locked").c_str(), 0555);
    dir.OpenToAll();
    ::chmod(top.c_str(), 0644);
    ::chmod(bottom.c_str(), 0644);
    const std::string drop =
        ::geteuid() == 0 ? "exec setpriv --reuid=65534 --regid=65534 --clear-groups " : "exec ";
    const ProcessResult r =
        Shell(drop + "\"$CLI\" -o \"${DIR}locked/out.PS\" \"$TOP\" \"$BOTTOM\"", dir, top, bottom);
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_EQ(r.err,
              "a5merge-cli: Could not save " + dir.Path("locked/out.PS") + ": Permission denied\n");
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path("locked")));
    ExpectInputsUntouched();
}

class ChangedInputTest : public FaultTest, protected testing::FakeForm {
protected:
    // Drops both inputs and returns what MERGE + SAVE into out.PS reports.
    std::vector<std::string> MergeAfter(const std::function<void()>& change) {
        DropOnZone(Zone::Top, {top}, form);
        DropOnZone(Zone::Bottom, {bottom}, form);
        EXPECT_EQ(state.topOK + state.bottomOK, 2);
        change();
        desktop.saveAnswers = {dir.Path("out.PS")};
        const auto start = std::chrono::steady_clock::now();
        cmdMerge_Click(form);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        return desktop.Texts();
    }
};

TEST_F(ChangedInputTest, DeletedInputIsReportedAndNothingWritten) {
    const auto texts = MergeAfter([&] { std::filesystem::remove(bottom); });
    EXPECT_EQ(texts, std::vector<std::string>{"Could not save " + dir.Path("out.PS") + "\r\n" +
                                              bottom + ": No such file or directory"});
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"upper.ps"});
}

TEST_F(ChangedInputTest, InputsReplacedByAFifoOrADeviceNeverHang) {
    for (const char* kind : {"fifo", "device"}) {
        desktop.boxes.clear();
        const auto texts = MergeAfter([&] {
            std::filesystem::remove(bottom);
            if (kind == std::string("fifo")) {
                ::mkfifo(bottom.c_str(), 0600);
            } else {
                ::symlink("/dev/zero", bottom.c_str());
            }
        });
        EXPECT_EQ(texts, std::vector<std::string>{"Could not save " + dir.Path("out.PS") + "\r\n" +
                                                  bottom + ": Not a regular file"})
            << kind;
        EXPECT_FALSE(std::filesystem::exists(dir.Path("out.PS")));
        std::filesystem::remove(bottom);
        dir.Write("lower.ps", bottomBytes);
    }
}

TEST_F(ChangedInputTest, TruncatedInputIsMergedAsItNowIs) {
    const auto texts = MergeAfter([&] { ::truncate(bottom.c_str(), 100); });
    EXPECT_EQ(texts, std::vector<std::string>{"All looks OK!  "});
    // What is there now, cut in the middle of a line, merged whole.
    TempFolder again;
    MergeState copy;
    copy.bottomFile = again.Write("b.ps", bottomBytes.substr(0, 100));
    copy.topFile = top;
    copy.outFile = again.Path("out.PS");
    TextFiles otherFiles;
    WriteMerged(copy, otherFiles);
    EXPECT_EQ(ReadBytes(dir.Path("out.PS")), ReadBytes(copy.outFile));
    EXPECT_EQ(ReadBytes(top), topBytes);
}

TEST_F(FaultTest, FifoAndDeviceInputsAreRefusedWithoutHanging) {
    ::mkfifo(dir.Path("pipe.ps").c_str(), 0600);
    ::symlink("/dev/zero", dir.Path("zero.ps").c_str());
    for (const char* name : {"pipe.ps", "zero.ps"}) {
        const ProcessResult r = RunProcess({kCli, top, dir.Path(name)});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "a5merge-cli: " + dir.Path(name) +
                             ": BOTTOM.PS file check NOT OK: not a regular file\n");
    }
}

TEST_F(FaultTest, ASingleLineOfOneGibibyte) {
    // Header, marker, then 1 GiB without a line end (a sparse file of NULs).
    const std::string huge = dir.Write("huge.ps", AcceptedInput(""));
    constexpr off_t kGiB = off_t{1} << 30;
    ASSERT_EQ(::truncate(huge.c_str(), static_cast<off_t>(ReadBytes(huge).size()) + kGiB), 0);
    const auto hugeSize = std::filesystem::file_size(huge);

    ProcessResult r = RunProcess({kCli, "--check", huge});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, huge + ": OK\n");

    r = RunProcess({kCli, "-o", dir.Path("sheet.PS"), top, huge});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_LT(r.maxRssKiB, 64 * 1024) << "the line is never held whole";
    // BOTTOM's lines, the huge one ended by CR LF, the three inserted lines, TOP.
    const auto expected = hugeSize + 2 + 35 + 65 + 17 + topBytes.size();
    EXPECT_EQ(std::filesystem::file_size(dir.Path("sheet.PS")), expected);
    EXPECT_EQ(std::filesystem::file_size(huge), hugeSize);
    std::filesystem::remove(dir.Path("sheet.PS"));
    std::filesystem::remove(huge);
}

// A kill at any moment of an in-place rewrite (a target with a second link)
// leaves either the old content or the whole new sheet under a name the
// README gives: the target's own name, or it with ".a5merge-new" added.
TEST_F(FaultTest, AKillDuringAnInPlaceRewriteLeavesAWholeSheetToFind) {
    const std::string bigTop = WriteBigInput(dir, "bigtop.ps", 40, 'T');
    const std::string bigBottom = WriteBigInput(dir, "bigbottom.ps", 40, 'B');
    const std::string sheet = RunProcess({kCli, "-o", "-", bigTop, bigBottom}).out;
    ASSERT_GT(sheet.size(), 80u << 20);
    const std::string old(1 << 20, 'o');
    for (const int sig : {SIGKILL, SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(sig));
        const std::string target = dir.Write("linked.PS", old);
        ASSERT_EQ(::link(target.c_str(), dir.Path("second name.PS").c_str()), 0);
        Watch changed(target, IN_MODIFY);
        const pid_t pid = Start({kCli, "--force", "-o", target, bigTop, bigBottom});
        ASSERT_TRUE(changed.Wait(120)) << "the target was never written";
        ::kill(pid, sig);
        WaitFor(pid);
        const std::string now = ReadBytes(target);
        if (now != old && now != sheet) {
            ASSERT_TRUE(std::filesystem::exists(target + ".a5merge-new")) << "no whole sheet left";
            EXPECT_TRUE(ReadBytes(target + ".a5merge-new") == sheet);
        }
        for (const char* name : {"linked.PS", "second name.PS", "linked.PS.a5merge-new"}) {
            std::filesystem::remove(dir.Path(name));
        }
    }
}

// Where room cannot be reserved (ext2) or overwriting takes new room (btrfs),
// a disk too full for the rewrite leaves a linked target as it was.
TEST_F(FaultTest, AFullExt2OrBtrfsLeavesALinkedTargetAsItWas) {
    if (!CanMount()) GTEST_SKIP() << "no mount namespace here (needs root)";
    const std::string midTop = dir.Write("midtop.ps", BigInput(1536, 'T'));
    const std::string midBottom = dir.Write("midbottom.ps", BigInput(1536, 'B'));
    // The target: a few bytes, or as large as the sheet (which on btrfs
    // frees nothing for the rewrite: every block written is a new one).
    const struct {
        const char* kind;
        const char* size;
        const char* target;  // a command that writes it
        std::string head;    // its first 40 bytes
    } cases[] = {
        {"ext2", "16M", "printf old", "old"},
        {"btrfs", "120M", "printf old", "old"},
        {"btrfs", "120M", "head -c 3200000 /dev/zero | tr '\\0' o", std::string(40, 'o')},
    };
    for (const auto& c : cases) {
        const std::string kind = c.kind;
        SCOPED_TRACE(kind + " " + c.target);
        if (::access(("/usr/sbin/mkfs." + kind).c_str(), X_OK) != 0) {
            ADD_FAILURE() << "mkfs." << kind << " is missing (install-deps installs it)";
            continue;
        }
        const ProcessResult r = Shell(
            "set -e; I=\"${DIR}" + kind + ".img\"; D=\"${DIR}" + kind +
                "\"; rm -f \"$I\"; truncate -s " + c.size + " \"$I\"; mkfs." + kind +
                " -q \"$I\" >/dev/null 2>&1; mkdir -p \"$D\"; mount --make-rprivate /; "
                "mount -o loop \"$I\" \"$D\"; " +
                c.target +
                " > \"$D/t.PS\"; "
                "ln \"$D/t.PS\" \"$D/u.PS\"; sync; "
                "free=$(df --output=avail -B1 \"$D\" | tail -1); "
                "head -c $((free - 4718592)) /dev/zero > \"$D/filler\" || true; sync; set +e; "
                "\"$CLI\" --force -o \"$D/t.PS\" \"$TOP\" \"$BOTTOM\"; echo \"status=$?\"; "
                "head -c 40 \"$D/t.PS\"; echo; head -c 40 \"$D/u.PS\"; echo; ls -A \"$D\" | grep "
                "-v lost+found; "
                "umount \"$D\"",
            dir, midTop, midBottom, true);
        EXPECT_NE(r.out.find("status=4\n" + c.head + "\n" + c.head + "\nfiller\nt.PS\nu.PS\n"),
                  std::string::npos)
            << r.out << r.err;
        EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    }
}

// Two --force runs on one linked target: it ends as one whole sheet, never
// a mixture; a run that finds the other rewriting it says so.
TEST_F(FaultTest, TwoForcedRunsOnALinkedTargetNeverMixTheirSheets) {
    const std::string topA = WriteBigInput(dir, "topA.ps", 40, 'a');
    const std::string bottomA = WriteBigInput(dir, "bottomA.ps", 40, 'A');
    const std::string topB = WriteBigInput(dir, "topB.ps", 40, 'b');
    const std::string bottomB = WriteBigInput(dir, "bottomB.ps", 40, 'B');
    const std::string sheetA = RunProcess({kCli, "-o", "-", topA, bottomA}).out;
    const std::string sheetB = RunProcess({kCli, "-o", "-", topB, bottomB}).out;
    for (int attempt = 0; attempt < 12; ++attempt) {
        const std::string target = dir.Write("shared.PS", "old");
        std::filesystem::remove(dir.Path("shared link.PS"));
        ASSERT_EQ(::link(target.c_str(), dir.Path("shared link.PS").c_str()), 0);
        const pid_t a = Start({kCli, "--force", "-o", target, topA, bottomA});
        const pid_t b = Start({kCli, "--force", "-o", target, topB, bottomB});
        const int statusA = WaitFor(a);
        const int statusB = WaitFor(b);
        const std::string now = ReadBytes(target);
        EXPECT_TRUE(now == sheetA || now == sheetB) << "attempt " << attempt << ": a mixture";
        EXPECT_TRUE(statusA == 0 || statusB == 0) << statusA << " " << statusB;
        EXPECT_EQ(ReadBytes(dir.Path("shared link.PS")), now);
    }
}

// A FIFO target replaced by a file during the merge: the file is not written
// into; the run says the target changed.
TEST_F(FaultTest, AFifoReplacedByAFileDuringTheMergeIsNotWrittenInto) {
    const std::string bigTop = WriteBigInput(dir, "bigtop.ps", 40, 'T');
    const std::string bigBottom = WriteBigInput(dir, "bigbottom.ps", 40, 'B');
    const std::string target = dir.Path("out.PS");
    ASSERT_EQ(::mkfifo(target.c_str(), 0600), 0);
    Watch opened(bigBottom, IN_OPEN);  // the output is opened before the inputs
    const pid_t pid = Start({kCli, "-o", target, bigTop, bigBottom});
    ASSERT_TRUE(opened.Wait(60));
    std::filesystem::remove(target);
    const std::string precious = "a file made meanwhile, with a tail that must stay\n";
    dir.Write("out.PS", precious);
    // A reader for the FIFO, should the run still write into it.
    const int status = WaitFor(pid);
    EXPECT_EQ(status, 4);
    EXPECT_TRUE(ReadBytes(target) == precious) << "the sheet was written into the new file";
}

// Standard output opened for reading and writing (1<>FILE): a refused input
// leaves FILE as it was; only what this run wrote is ever cut back.
TEST_F(FaultTest, StandardOutputOpenedReadWriteKeepsWhatItHeld) {
    const std::string precious = dir.Write("precious.PS", "precious bytes\r\n");
    const std::string bad = dir.Write("bad.ps", "not PostScript\r\n");
    ProcessResult r =
        Shell("exec \"$CLI\" -o - \"$TOP\" \"$BOTTOM\" 1<> \"${DIR}precious.PS\"", dir, top, bad);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(ReadBytes(precious), "precious bytes\r\n");
    // TOP refused after a large BOTTOM was read: still nothing written into it.
    r = Shell("exec \"$CLI\" -o - \"$TOP\" \"$BOTTOM\" 1<> \"${DIR}precious.PS\"", dir, bad,
              bottom);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(ReadBytes(precious), "precious bytes\r\n");

    // -o naming the standard output itself, appended to: appended to.
    const std::string log = dir.Write("log", "earlier\n");
    const std::string sheet = RunProcess({kCli, "-o", "-", top, bottom}).out;
    for (const std::string& name : {std::string("/dev/stdout"), dir.Path("log")}) {
        r = Shell("exec \"$CLI\" -o '" + name + "' \"$TOP\" \"$BOTTOM\" >> \"${DIR}log\"", dir, top,
                  bottom);
        EXPECT_EQ(r.status, 0) << r.err;
    }
    EXPECT_TRUE(ReadBytes(log) == "earlier\n" + sheet + sheet) << "the log was replaced";
}

// A line longer than the read buffer is read once: a change behind the
// reader never reaches the output.
TEST_F(FaultTest, WhatIsWrittenIsWhatWasCheckedInALongLine) {
    const std::string head = AcceptedInput("");
    const std::string longLine = dir.Write("long.ps", head);
    constexpr off_t kLine = off_t{256} << 20;  // NULs, without a line end
    ASSERT_EQ(::truncate(longLine.c_str(), static_cast<off_t>(head.size()) + kLine), 0);
    std::ofstream(longLine, std::ios::app | std::ios::binary) << "\r\nshowpage\r\n";

    const std::string out = dir.Path("sheet.PS");
    const pid_t pid = Start({kCli, "-o", "-", top, longLine}, out);
    // Once the reader is past the first MiB of the line, "showpage" is put there.
    const long long mark = static_cast<long long>(head.size()) + (1 << 20);
    long long at = -1;
    for (int i = 0; i < 20000 && at < mark + (1 << 20); ++i) {
        at = ReadPosition(pid, longLine);
        if (at < mark + (1 << 20)) ::usleep(500);
    }
    {
        std::fstream change(longLine, std::ios::in | std::ios::out | std::ios::binary);
        change.seekp(mark);
        change << "showpage";
    }
    EXPECT_EQ(WaitFor(pid), 0);
    const std::string sheet = ReadBytes(out);
    const std::size_t bottomEnd = sheet.find("%%  invoegbestand");
    ASSERT_NE(bottomEnd, std::string::npos);
    EXPECT_EQ(sheet.substr(0, bottomEnd).find("showpage"), std::string::npos)
        << "a BOTTOM line holding showpage was written";
    std::filesystem::remove(out);
    std::filesystem::remove(longLine);
}

// A file that claims to be regular but whose reads wait (the kernel's trace
// pipe, through a link) is refused at once, not waited on for ever.
TEST_F(FaultTest, AnInputWhoseReadsWouldWaitIsRefused) {
    if (!CanMount()) GTEST_SKIP() << "no mount namespace here (needs root) for tracefs";
    const ProcessResult r = Shell(
        "set -e; T=\"${DIR}trace\"; mkdir \"$T\"; mount --make-rprivate /; "
        "mount -t tracefs nodev \"$T\"; ln -s \"$T/trace_pipe\" \"${DIR}pipe.ps\"; set +e; "
        "timeout 20 \"$CLI\" --check \"${DIR}pipe.ps\"; echo \"check=$?\"; "
        "timeout 20 \"$CLI\" \"$TOP\" \"${DIR}pipe.ps\"; echo \"merge=$?\"",
        dir, top, bottom, true);
    EXPECT_NE(r.out.find("check=1\n"), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.out.find("merge=1\n"), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.err.find("pipe.ps: BOTTOM.PS file check NOT OK: cannot be read: Not a regular "
                         "file: reading it would wait"),
              std::string::npos)
        << r.err;
}

// Where unnamed files cannot be named (here /proc is hidden), the output is
// made under a temporary name of ours: removed on SIGTERM, SIGINT and
// SIGHUP; one left by SIGKILL is removed by the next run in that folder,
// but never one of a run still alive.
TEST_F(FaultTest, TemporaryNamesDoNotOutliveTheirRun) {
    if (!CanMount()) GTEST_SKIP() << "no mount namespace here (needs root) to hide /proc";
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer cannot start without /proc";
#endif
    const std::string bigTop = WriteBigInput(dir, "bigtop.ps", 60, 'T');
    const std::string bigBottom = WriteBigInput(dir, "bigbottom.ps", 60, 'B');
    ::mkdir(dir.Path("out").c_str(), 0755);
    const std::string script =
        // A temporary folder of its own: another test's run would settle
        // what the killed one leaves before this one looks.
        "O=\"${DIR}out\"; mkdir \"${DIR}tmp\"; export TMPDIR=\"${DIR}tmp\"; "
        "mount --make-rprivate /; mount -t tmpfs none /proc; "
        "temp() { for i in $(seq 1 2000); do ls -A \"$O\" | grep -q '^\\.a5merge-' && return 0; "
        "sleep 0.01; done; return 1; }; "
        "for s in TERM INT HUP; do env --default-signal=INT \"$CLI\" --force -o \"$O/out.PS\" "
        "\"$TOP\" \"$BOTTOM\" & p=$!; "
        "temp || echo no-temp; kill -$s $p; wait $p; echo \"$s=$? left $(ls -A \"$O\" | grep -c "
        "a5merge)\"; done; "
        "\"$CLI\" --force -o \"$O/out.PS\" \"$TOP\" \"$BOTTOM\" & p=$!; temp; kill -KILL $p; wait "
        "$p; "
        "echo \"KILL left $(ls -A \"$O\" | grep -c a5merge)\"; "
        "\"$CLI\" --force -o \"$O/small.PS\" \"${DIR}upper.ps\" \"${DIR}lower.ps\" >/dev/null; "
        "echo \"next run left $(ls -A \"$O\" | grep -c a5merge)\"; "
        "\"$CLI\" --force -o \"$O/out.PS\" \"$TOP\" \"$BOTTOM\" >/dev/null & p=$!; temp; kill "
        "-STOP $p; "
        "\"$CLI\" --force -o \"$O/small.PS\" \"${DIR}upper.ps\" \"${DIR}lower.ps\" >/dev/null; "
        "echo \"live kept $(ls -A \"$O\" | grep -c a5merge)\"; kill -CONT $p; wait $p; "
        "echo \"live=$? left $(ls -A \"$O\" | grep -c a5merge)\"";
    const ProcessResult r = Shell(script, dir, bigTop, bigBottom, true);
    EXPECT_EQ(
        r.out,
        "TERM=143 left 0\nINT=130 left 0\nHUP=129 left 0\nKILL left 1\nnext run left 0\nlive kept "
        "1\nlive=0 left 0\n")
        << r.err;
}

// A file of another owner, in a folder this user may write, is not written:
// never silently given a new owner, never split from its other links.
TEST_F(FaultTest, AFileOfAnotherOwnerIsNeverGivenAwaySilently) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to own files as another user";
    const std::string shared = dir.Path("shared");
    ::mkdir(shared.c_str(), 0777);
    ::chmod(shared.c_str(), 0777);
    dir.OpenToAll();
    ::chmod(top.c_str(), 0644);
    ::chmod(bottom.c_str(), 0644);
    const std::string theirs = dir.Write("shared/theirs.PS", "precious");
    const std::string linked = dir.Write("shared/linked.PS", "precious");
    ASSERT_EQ(::link(linked.c_str(), (shared + "/linked too.PS").c_str()), 0);
    for (const std::string& target : {theirs, linked}) {
        ::chmod(target.c_str(), 0644);
        const ProcessResult r =
            RunProcess({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                        kCli, "--force", "-o", target, top, bottom});
        EXPECT_EQ(r.status, 4) << target;
        EXPECT_EQ(r.err.rfind("a5merge-cli: Could not save " + target + ": ", 0), 0u) << r.err;
        EXPECT_EQ(ReadBytes(target), "precious");
        struct stat st {};
        ASSERT_EQ(::stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 0u) << "the file changed hands";
    }
    EXPECT_EQ(ReadBytes(shared + "/linked too.PS"), "precious");
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"lower.ps", "shared", "upper.ps"}));
}

// Honest reasons: a temporary folder that is full is named; a limit on open
// files, on memory or on file size is said as such, with the path; a folder
// renamed during a run is followed to where the sheet really is.
TEST_F(FaultTest, LimitsAndTroublesAreSaidAsTheyAre) {
    ProcessResult r =
        Shell("ulimit -f 100; exec \"$CLI\" --force -o \"${DIR}out.PS\" \"$TOP\" \"$BOTTOM\"", dir,
              top, bottom);
    EXPECT_EQ(r.status, 4) << "SIGXFSZ must not kill it";
    EXPECT_EQ(r.err, "a5merge-cli: Could not save " + dir.Path("out.PS") + ": File too large\n");

#if !defined(__SANITIZE_ADDRESS__)  // UBSan's own checks need a free descriptor
    r = Shell("ulimit -n 5; exec \"$CLI\" -o \"${DIR}n.PS\" \"$TOP\" \"$BOTTOM\"", dir, top,
              bottom);
    EXPECT_NE(r.err.find("Too many open files"), std::string::npos) << r.err;
    EXPECT_EQ(r.status, 4);
#endif

#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer cannot run under a memory limit
    r = Shell("ulimit -v 40000; exec \"$CLI\" -o \"${DIR}v.PS\" \"$TOP\" \"$BOTTOM\"", dir, top,
              bottom);
    if (r.status != 0) {
        EXPECT_EQ(r.status, 4) << r.err;
        EXPECT_EQ(r.err.rfind("a5merge-cli: Could not save " + dir.Path("v.PS") + ": ", 0), 0u)
            << r.err;
    }
#endif

    if (CanMount()) {
        r = Shell(
            "set -e; T=\"${DIR}tmp\"; mkdir \"$T\"; mount --make-rprivate /; "
            "mount -t tmpfs -o size=64k tmpfs \"$T\"; set +e; "
            "TMPDIR=\"$T\" \"$CLI\" -o - \"$TOP\" \"$BOTTOM\" | cat > /dev/null",
            dir, top, bottom, true);
        EXPECT_NE(r.err.find(dir.Path("tmp") + ": No space left on device"), std::string::npos)
            << r.err;
    }
    for (const std::string& tmp : {std::string("/nonexistent"), top}) {
        r = Shell(
            "TMPDIR='" + tmp + "' \"$CLI\" -o - \"$TOP\" \"$BOTTOM\" | cat > /dev/null; echo $?",
            dir, top, bottom);
        EXPECT_EQ(r.err, "") << "TMPDIR=" << tmp;
    }

    // The folder renamed while the sheet is made: the path printed is where it is.
    const std::string bigTop = WriteBigInput(dir, "bigtop.ps", 30, 'T');
    const std::string bigBottom = WriteBigInput(dir, "bigbottom.ps", 30, 'B');
    ::mkdir(dir.Path("before").c_str(), 0755);
    Watch opened(bigBottom, IN_OPEN);
    const std::string printed = dir.Path("printed");
    const pid_t pid = Start({kCli, "-o", dir.Path("before/out.PS"), bigTop, bigBottom}, printed);
    ASSERT_TRUE(opened.Wait(60));
    std::filesystem::rename(dir.Path("before"), dir.Path("after"));
    EXPECT_EQ(WaitFor(pid), 0);
    EXPECT_EQ(ReadBytes(printed), dir.Path("after/out.PS") + "\n");
}

// A folder holding only `gs` (a link to the system's): as PATH, it runs
// Ghostscript without bubblewrap.
std::string GhostscriptOnly(const TempFolder& dir) {
    const std::string folder = dir.Path("gs-only");
    std::filesystem::create_directory(folder);
    std::filesystem::create_symlink("/usr/bin/gs", folder + "/gs");
    return folder;
}

// The processes still running (not zombies) whose file-size limit is `bytes`:
// what a run whose Ghostscript may write `bytes` left behind.
int LiveProcessesLimitedTo(std::uint64_t bytes, std::string* which = nullptr) {
    int live = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream limits(entry.path() / "limits");
        std::string line;
        bool ours = false;
        while (std::getline(limits, line)) {
            if (line.rfind("Max file size", 0) == 0 &&
                line.find(" " + std::to_string(bytes) + " ") != std::string::npos) {
                ours = true;
            }
        }
        std::ifstream stat(entry.path() / "stat");
        std::string statLine;
        std::getline(stat, statLine);
        const std::size_t close = statLine.rfind(')');
        const bool zombie =
            close != std::string::npos && close + 2 < statLine.size() && statLine[close + 2] == 'Z';
        live += ours && !zombie;
        if (ours && !zombie && which != nullptr) *which += statLine + "\n";
    }
    return live;
}

// Whether process `pid` holds open, within 4 s, a file under `folder` whose
// first name there is not one of `old` (its own folder, not one it sweeps).
bool HoldsANewFileIn(pid_t pid, const std::string& folder, const std::set<std::string>& old) {
    for (int i = 0; i < 200; ++i) {
        std::error_code error;
        for (const auto& fd :
             std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
            const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
            if (target.rfind(folder + "/", 0) != 0) continue;
            const std::string rest = target.substr(folder.size() + 1);
            if (old.count(rest.substr(0, rest.find('/'))) == 0) return true;
        }
        ::usleep(20'000);
    }
    return false;
}

// A drawing that loops for ever, padded to a size of its own, so that its
// runs are known by their file-size limit; and that limit.
std::pair<std::string, std::uint64_t> LoopingDrawing(const TempFolder& dir, const std::string& name,
                                                     const std::string& bottom) {
    const std::size_t pad = 1000 + static_cast<std::size_t>(::getpid()) % 4000;
    const std::string path = dir.Write(
        name, AcceptedInput("%" + std::string(pad, 'p') + "\r\n{ } loop\r\nshowpage\r\n"));
    const std::string sheet = RunProcess({kCli, "-o", "-", path, bottom}).out;
    return {path, GhostscriptWriteLimit(sheet.size())};
}

// A drawing that fills the temporary folder is stopped at the bound its
// size gives, with and without bubblewrap: a small temporary folder of its
// own is never filled, and nothing is left in it.
TEST_F(FaultTest, WhatGhostscriptWritesIsBounded) {
    if (!CanMount()) GTEST_SKIP() << "no mount namespace here (needs root) for a small tmpfs";
    const std::string filler = dir.Write(
        "filler.ps", AcceptedInput("/s 65536 string def { null (w) .tempfile exch pop /f exch def "
                                   "0 1 100 { pop f s writestring } for f closefile } loop\r\n"
                                   "showpage\r\n"));
    const std::string onlyGs = GhostscriptOnly(dir);
    const ProcessResult r = Shell(
        "set -e; T=\"${DIR}tmp\"; mkdir \"$T\"; mount --make-rprivate /; "
        "mount -t tmpfs -o size=200m tmpfs \"$T\"; set +e; "
        "for p in \"$PATH\" '" +
            onlyGs +
            "'; do "
            "TMPDIR=\"$T\" PATH=\"$p\" \"$CLI\" --pdf --force -o \"${DIR}out.pdf\" \"$TOP\" "
            "\"$BOTTOM\"; echo \"status=$? left=$(ls -A \"$T\" | wc -l)\"; done",
        dir, filler, bottom, true);
    EXPECT_EQ(r.out, "status=4 left=0\nstatus=4 left=0\n") << r.err;
    const std::string said = "a5merge-cli: Could not save " + dir.Path("out.pdf") +
                             ": Ghostscript was stopped: the document made it write more than ";
    EXPECT_EQ(r.err.find(said), 0u) << r.err;
    EXPECT_NE(r.err.find(said, 1), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.Path("out.pdf")));
}

// A run ended by SIGTERM, SIGINT or SIGHUP leaves neither its private
// folders nor a Ghostscript behind, with or without bubblewrap; one killed
// leaves its folders to the next run, which removes them, and no process.
TEST_F(FaultTest, NothingOfARunOutlivesIt) {
    const auto [looping, limit] = LoopingDrawing(dir, "looping.ps", bottom);
    const std::string tmp = dir.Path("tmp");
    std::filesystem::create_directory(tmp);
    const std::string onlyGs = GhostscriptOnly(dir);
    const auto names = [&tmp] {
        std::set<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(tmp)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("a5merge-", 0) == 0) found.insert(name);
        }
        return found;
    };
    const auto folders = [&names] { return static_cast<int>(names().size()); };
    for (const std::string& path : {std::string(std::getenv("PATH")), onlyGs}) {
        for (const int sig : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
            SCOPED_TRACE(std::string(strsignal(sig)) + " with PATH " + path);
            // Killed once Ghostscript (or bubblewrap) runs.
            const ProcessResult r = RunProcess(
                {"/bin/sh", "-c",
                 "/usr/bin/env --default-signal=INT TMPDIR='" + tmp + "' PATH='" + path +
                     "' A5MERGE_GHOSTSCRIPT_SECONDS=20 '" + kCli + "' --pdf --force -o '" +
                     dir.Path("out.pdf") + "' '" + looping + "' '" + bottom +
                     "' & p=$!; for i in $(seq 200); do "
                     "for c in $(cat /proc/$p/task/*/children 2>/dev/null); do "
                     "grep -qx -e gs -e bwrap /proc/$c/comm && break 2; done; sleep 0.02; done; "
                     "sleep 0.3; kill -" +
                     std::to_string(sig) + " $p; wait $p; echo $?"});
            EXPECT_EQ(r.out, std::to_string(128 + sig) + "\n") << r.err;
            for (int i = 0; i < 250 && LiveProcessesLimitedTo(limit) > 0; ++i) ::usleep(20'000);
            std::string which;
            EXPECT_EQ(LiveProcessesLimitedTo(limit, &which), 0)
                << "Ghostscript or bubblewrap outlived it:\n"
                << which;
            if (sig == SIGKILL) {
                EXPECT_GE(folders(), 1);
                // The folder of a run that lives is never another run's to remove.
                // (Stopped while it sweeps the killed run's folder, it would
                // hold that one only.)
                const std::set<std::string> killedRuns = names();
                const pid_t live =
                    Start({"/usr/bin/env", "TMPDIR=" + tmp, "PATH=" + path, kCli, "--pdf",
                           "--force", "-o", dir.Path("live.pdf"), looping, bottom});
                ASSERT_TRUE(HoldsANewFileIn(live, tmp, killedRuns));
                ASSERT_EQ(::kill(live, SIGSTOP), 0);
                const ProcessResult next =
                    RunProcess({"/usr/bin/env", "TMPDIR=" + tmp, kCli, "--pdf", "--force", "-o",
                                dir.Path("next.pdf"), top, bottom});
                EXPECT_EQ(next.status, 0) << next.err;
                EXPECT_GE(folders(), 1) << "the live run's folder was removed";
                ::kill(live, SIGCONT);
                ::kill(live, SIGTERM);
                WaitFor(live);
            }
            EXPECT_EQ(folders(), 0) << "a private folder was left";
        }
    }
}

// Killed at any moment of its first 150 ms, a run with Ghostscript never
// leaves bubblewrap (or Ghostscript) running.
TEST_F(FaultTest, AnEarlyKillNeverLeavesTheSandboxRunning) {
    const auto [looping, limit] = LoopingDrawing(dir, "looping.ps", bottom);
    const std::string onlyGs = GhostscriptOnly(dir);
    std::srand(static_cast<unsigned>(::getpid()));
    for (int attempt = 0; attempt < 40; ++attempt) {
        const std::string path = attempt % 4 == 3 ? onlyGs : std::string(std::getenv("PATH"));
        const pid_t pid = Start({"/usr/bin/env", "PATH=" + path, kCli, "--pdf", "--force", "-o",
                                 dir.Path("out.pdf"), looping, bottom});
        ::usleep(static_cast<useconds_t>(std::rand() % 150'000));
        ::kill(pid, SIGKILL);
        WaitFor(pid);
    }
    for (int i = 0; i < 250 && LiveProcessesLimitedTo(limit) > 0; ++i) ::usleep(20'000);
    std::string which;
    EXPECT_EQ(LiveProcessesLimitedTo(limit, &which), 0)
        << "a sandbox outlived the run that made it:\n"
        << which;
}

// A replaced file keeps its access control list and extended attributes:
// its permissions are never widened, and no one loses access.
TEST_F(FaultTest, AReplacedFileKeepsItsAccessControlList) {
    if (::access("/usr/bin/setfacl", X_OK) != 0) GTEST_SKIP() << "setfacl (package acl) is missing";
    const std::string target = dir.Write("shared.PS", "old");
    ::chmod(target.c_str(), 0660);
    const ProcessResult set =
        RunProcess({"/bin/sh", "-c",
                    "setfacl -m g::---,u:65534:rw- '" + target +
                        "' && setfattr -n user.note -v kept '" + target + "'"});
    if (set.status != 0) GTEST_SKIP() << "this file system keeps no ACL: " << set.err;
    const std::string before = RunProcess({"/usr/bin/getfacl", "-c", target}).out;
    const ProcessResult r = RunProcess({kCli, "--force", "-o", target, top, bottom});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(RunProcess({"/usr/bin/getfacl", "-c", target}).out, before);
    EXPECT_EQ(RunProcess({"/usr/bin/getfattr", "--only-values", "-n", "user.note", target}).out,
              "kept");
    EXPECT_EQ(ReadBytes(target), RunProcess({kCli, "-o", "-", top, bottom}).out);
}

// A rewrite in place that fails half-way (here the copy into the target)
// names the whole new sheet it leaves beside it; that copy is no more open
// than the target, and a file of the user's under that name is never taken.
TEST_F(FaultTest, ARewriteThatFailsHalfWayNamesTheWholeCopy) {
    if (::access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "strace is not installed";
    const std::string target = dir.Write("t.PS", "old");
    ::chmod(target.c_str(), 0600);
    ASSERT_EQ(::link(target.c_str(), dir.Path("u.PS").c_str()), 0);
    // The user's own files under the first eight names: the ninth is free.
    const std::string users = dir.Write("t.PS.a5merge-new", "the user's own");
    for (int n = 2; n <= 8; ++n) dir.Write("t.PS.a5merge-new-" + std::to_string(n), "");
    const ProcessResult r =
        RunProcess({"/usr/bin/strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=sendfile", "-e",
                    "inject=sendfile:error=EIO", "/usr/bin/env", "ASAN_OPTIONS=detect_leaks=0",
                    kCli, "--force", "-o", target, top, bottom});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, "a5merge-cli: Could not save " + target +
                         ": Input/output error; the whole new sheet is in " + target +
                         ".a5merge-new-9\n");
    EXPECT_EQ(ReadBytes(target + ".a5merge-new-9"), RunProcess({kCli, "-o", "-", top, bottom}).out);
    EXPECT_EQ(ReadBytes(users), "the user's own");
    struct stat st {};
    ASSERT_EQ(::stat((target + ".a5merge-new-9").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the whole sheet was more open than its target";
}

// A file with a second link is rewritten in place with its new sheet kept
// beside it: in a folder this user may not write, that is refused with the
// reason, and nothing is touched.
TEST_F(FaultTest, ALinkedTargetInAFolderThatMayNotBeWrittenSaysWhy) {
    const std::string locked = dir.Path("locked");
    ::mkdir(locked.c_str(), 0755);
    const std::string target = dir.Write("locked/t.PS", "old");
    ASSERT_EQ(::link(target.c_str(), dir.Path("locked/u.PS").c_str()), 0);
    ::chmod(target.c_str(), 0666);
    ::chmod(locked.c_str(), 0555);
    dir.OpenToAll();
    ::chmod(top.c_str(), 0644);
    ::chmod(bottom.c_str(), 0644);
    const std::string drop =
        ::geteuid() == 0 ? "exec setpriv --reuid=65534 --regid=65534 --clear-groups " : "exec ";
    const ProcessResult r = Shell(
        drop + "\"$CLI\" --force -o \"${DIR}locked/t.PS\" \"$TOP\" \"$BOTTOM\"", dir, top, bottom);
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, "a5merge-cli: Could not save " + target +
                         ": has 2 hard links, so it is rewritten in place, with the whole new "
                         "sheet kept beside it meanwhile; this user may not make that file in its "
                         "folder (Permission denied), so nothing was written\n");
    EXPECT_EQ(ReadBytes(target), "old");
}

}  // namespace
}  // namespace a5merge
