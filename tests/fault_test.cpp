// Faults really caused: a full disk, a folder the user may not write, inputs
// that change between drop and merge, FIFOs and devices, a 1 GiB line.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

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

const std::string kCli = A5MERGE_CLI;

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
    const ProcessResult r = Shell(
        "trap '' XFSZ; ulimit -f 100; exec \"$CLI\" --force -o \"${DIR}out.PS\" \"$TOP\" "
        "\"$BOTTOM\"",
        dir, top, bottom);
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_EQ(r.err, "a5merge-cli: Could not save " + out + ": File too large\n");
    EXPECT_EQ(ReadBytes(out), "precious");
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"lower.ps", "out.PS", "upper.ps"}));
    ExpectInputsUntouched();
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
        EXPECT_EQ(r.err, "a5merge-cli: " + dir.Path(name) + ": BOTTOM.PS file check NOT OK\n");
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

}  // namespace
}  // namespace a5merge
