// Copies of the program started at the same moment: exactly one runs.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace a5merge {
namespace {

using testing::TempFolder;

struct Probe {
    pid_t pid = -1;
    int out = -1;  // its standard output
};

// Starts a probe for `lock` that waits for `start` (a pipe's read end) to close.
Probe StartProbe(const std::string& lock, int start) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(start, 0);
        ::dup2(out[1], 1);
        ::execl(A5MERGE_INSTANCE_PROBE, A5MERGE_INSTANCE_PROBE, lock.c_str(), nullptr);
        std::_Exit(127);
    }
    ::close(out[1]);
    return {pid, out[0]};
}

std::string ReadWord(int fd) {
    std::string word;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n') word += c;
    return word;
}

TEST(SingleInstanceRaceTest, ExactlyOneOfManyRunsAndAKilledOneDoesNotBlock) {
    TempFolder dir;
    const std::string lock = dir.Path("a5merge.lock");
    for (int round = 0; round < 3; ++round) {
        int start[2];
        ASSERT_EQ(::pipe2(start, O_CLOEXEC), 0);
        std::vector<Probe> probes;
        for (int i = 0; i < 8; ++i) probes.push_back(StartProbe(lock, start[0]));
        ::close(start[0]);
        ::close(start[1]);  // all go

        std::vector<pid_t> running;
        int refused = 0;
        for (const Probe& probe : probes) {
            ASSERT_GT(probe.pid, 0);
            const std::string word = ReadWord(probe.out);
            ::close(probe.out);
            if (word == "first") {
                running.push_back(probe.pid);
            } else {
                EXPECT_EQ(word, "running");
                int status = 0;
                ::waitpid(probe.pid, &status, 0);
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3);
                ++refused;
            }
        }
        ASSERT_EQ(running.size(), 1u) << "round " << round;
        EXPECT_EQ(refused, 7);

        // The one that runs is killed; its lock stays behind, and must not block.
        ::kill(running[0], SIGKILL);
        ::waitpid(running[0], nullptr, 0);
    }
}

}  // namespace
}  // namespace a5merge
