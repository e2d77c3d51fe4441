#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace a5merge {

// Limits a child runs under. Zero: no limit of that kind.
struct ChildLimits {
    std::chrono::milliseconds wallClock{0};  // then it is killed
    std::uint64_t addressSpaceBytes = 0;     // its memory, as the system counts it
    std::uint64_t cpuSeconds = 0;            // processor time
    std::uint64_t fileBytes = 0;             // the largest file it may write
    // The files in this folder may take at most `folderBytes` of the disk,
    // each counted at least 4 KiB; the child is killed soon after they take
    // more (checked 50 times a second).
    std::string folder;
    std::uint64_t folderBytes = 0;
};

// A program to run as a child process, in a session (Windows: a job) of its
// own, with only the environment given. Its standard input and output are
// the files named (or nothing, and a capture); its standard error is
// captured.
struct ChildRequest {
    std::vector<std::string> argv;         // argv[0]: the program's full path
    std::vector<std::string> environment;  // NAME=VALUE, all the child gets
    std::string folder;                    // its current folder; empty: ours
    // Its standard input: this regular file, opened without waiting (a FIFO
    // is refused); empty: nothing.
    std::string inputFile;
    // Its standard output: a new file made here that only this user may
    // read; empty: captured.
    std::string outputFile;
    std::size_t outputLimit = 64u << 20;   // more captured output stops the child
    std::size_t errorLimit = 64u << 10;    // standard error kept, the rest dropped
    ChildLimits limits;
    // Gives the child, as descriptor kLifelineFd, the read end of a pipe
    // that reaches its end when this process ends, however it ends, and
    // lets the child outlive us until it sees that: for a sandbox that kills
    // what it runs then. (One killed with its parent at once could be killed
    // half-way through making itself, and leave a part of itself waiting
    // for good.)
    bool lifeline = false;
};

inline constexpr int kLifelineFd = 4;

struct ChildResult {
    enum class Ending {
        Exited,          // `status` is its exit status
        Signalled,       // `status` is the signal that ended it
        TimedOut,        // killed at the wall-clock limit
        OutputTooLarge,  // killed when its captured output passed the limit
        WroteTooMuch,    // it passed the limit of a file's size, or of its folder's
        CpuLimit,        // killed at the processor-time limit
        Cancelled,       // killed because `cancel` was set
        BadFile,         // its input or output file: `startFailure` says which and why
        NotStarted,      // `startFailure` says why
    };
    Ending ending = Ending::NotStarted;
    int status = 0;
    std::string startFailure;
    std::string output;  // when captured
    std::string errors;  // the start of its standard error
};

// The name of signal `status` (Signalled), as the system says it.
std::string SignalName(int status);

// Runs the child to its end and waits for it. A child that passes a limit,
// or whose run `cancel` asks to stop, is killed with its whole session by
// its process id; so is a child still running when this process ends (see
// CleanUpBeforeExit), and, unless it has a lifeline, one whose parent dies.
// Never throws for the child's sake.
ChildResult RunChild(const ChildRequest& request, const std::atomic<bool>* cancel = nullptr);

}  // namespace a5merge
