// Child processes on Linux: fork, limits, exec; a poll loop that reads what
// the child says and watches the clock and the child's folder.

#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>

#include "platform/child_watch.h"
#include "platform/cleanup_linux.h"
#include "platform/descriptor_linux.h"

namespace a5merge {

namespace {

using posix::Fd;

struct Pipe {
    Fd read;
    Fd write;
    bool Open() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return false;
        read.reset(fds[0]);
        write.reset(fds[1]);
        return true;
    }
};

void SetLimit(int resource, std::uint64_t value) {
    if (value == 0) return;
    const rlimit limit{static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
    ::setrlimit(resource, &limit);
}

// In the child, between fork and exec: only calls that are safe there.
[[noreturn]] void BecomeChild(const ChildRequest& request, char* const* argv, char* const* envp,
                              int input, int output, int errors, int report, int lifeline,
                              pid_t parent) {
    ::setsid();
    // Killed with its parent; a parent that died before this was set is
    // never signalled for it, so it is asked again. A child with a lifeline
    // watches that instead.
    if (lifeline < 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig = 1; sig < NSIG; ++sig) ::signal(sig, SIG_DFL);

    SetLimit(RLIMIT_AS, request.limits.addressSpaceBytes);
    SetLimit(RLIMIT_FSIZE, request.limits.fileBytes);
    if (request.limits.cpuSeconds > 0) {
        const rlimit cpu{static_cast<rlim_t>(request.limits.cpuSeconds),
                         static_cast<rlim_t>(request.limits.cpuSeconds + 1)};
        ::setrlimit(RLIMIT_CPU, &cpu);
    }
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);

    int fail = 0;
    if (input < 0) input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    // Lifted above 4 first, so that moving one into place never overwrites
    // another (our own 0, 1 or 2 may have been closed, and reused by a pipe).
    static_assert(kLifelineFd == 4, "the lifeline follows the report pipe");
    const int count = lifeline >= 0 ? 5 : 4;
    int from[5] = {input, output, errors, report, lifeline};
    for (int i = 0; i < count; ++i) {
        if (from[i] >= 0) from[i] = ::fcntl(from[i], F_DUPFD_CLOEXEC, 10);
        if (from[i] < 0) fail = errno != 0 ? errno : EBADF;
    }
    // dup2 clears close-on-exec on each copy; the report pipe keeps it.
    for (int place = 0; place < count && fail == 0; ++place) {
        if (::dup2(from[place], place) < 0) fail = errno;
    }
    if (fail == 0 && ::fcntl(3, F_SETFD, FD_CLOEXEC) < 0) fail = errno;
    if (fail != 0) {
        (void)!::write(report, &fail, sizeof fail);
        ::_exit(127);
    }
    ::syscall(SYS_close_range, static_cast<unsigned>(count), ~0u, 0u);
    if (!request.folder.empty() && ::chdir(request.folder.c_str()) != 0) fail = errno;
    if (fail == 0) {
        ::execve(argv[0], argv, envp);
        fail = errno;
    }
    (void)!::write(3, &fail, sizeof fail);
    ::_exit(127);
}

std::vector<char*> Pointers(const std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (const std::string& s : strings) pointers.push_back(const_cast<char*>(s.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

enum class Read { Some, NothingYet, End };

// Appends what `fd` has now, keeping at most `limit` bytes in all; `over` is
// set once bytes past the limit came.
Read Drain(int fd, std::string& into, std::size_t limit, bool& over) {
    char buf[64 * 1024];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) return errno == EINTR || errno == EAGAIN ? Read::NothingYet : Read::End;
    if (n == 0) return Read::End;
    const std::size_t room = into.size() < limit ? limit - into.size() : 0;
    into.append(buf, std::min(room, static_cast<std::size_t>(n)));
    if (static_cast<std::size_t>(n) > room) over = true;
    return Read::Some;
}

// Reads what is left in `fd` without waiting.
void DrainLeft(int fd, std::string& into, std::size_t limit, bool& over) {
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    while (Drain(fd, into, limit, over) == Read::Some) {
    }
}

}  // namespace

std::uint64_t FolderBytes(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return 0;
    std::uint64_t bytes = 0;
    while (const dirent* entry = ::readdir(dir)) {
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            !S_ISDIR(st.st_mode)) {
            bytes += static_cast<std::uint64_t>(st.st_blocks) * 512 + 4096;
        }
    }
    ::closedir(dir);
    return bytes;
}

std::string SignalName(int status) { return ::strsignal(status); }

ChildResult RunChild(const ChildRequest& request, const std::atomic<bool>* cancel) {
    ChildResult result;
    if (request.argv.empty()) {
        result.startFailure = std::strerror(EINVAL);
        return result;
    }
    // The files first: a file at fault is said with its path.
    const auto badFile = [&result](const std::string& path, const std::string& reason) {
        result.ending = ChildResult::Ending::BadFile;
        result.startFailure = path + ": " + reason;
        return result;
    };
    Fd input, output;
    if (!request.inputFile.empty()) {
        // O_NONBLOCK: a FIFO's open never waits for a writer.
        input.reset(::open(request.inputFile.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        struct stat st {};
        if (!input.valid() || ::fstat(input.get(), &st) != 0) {
            return badFile(request.inputFile, std::strerror(errno));
        }
        if (!S_ISREG(st.st_mode)) return badFile(request.inputFile, "Not a regular file");
    }
    if (!request.outputFile.empty()) {
        output.reset(
            ::open(request.outputFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!output.valid()) return badFile(request.outputFile, std::strerror(errno));
    }
    Pipe errors, captured, report, lifeline;
    const bool capture = !output.valid();
    if (!errors.Open() || !report.Open() || (capture && !captured.Open()) ||
        (request.lifeline && !lifeline.Open())) {
        result.startFailure = std::strerror(errno);
        return result;
    }
    std::vector<char*> argv = Pointers(request.argv);
    std::vector<char*> envp = Pointers(request.environment);

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        result.startFailure = std::strerror(errno);
        return result;
    }
    if (pid == 0) {
        BecomeChild(request, argv.data(), envp.data(), input.get(),
                    capture ? captured.write.get() : output.get(), errors.write.get(),
                    report.write.get(), lifeline.read.get(), parent);
    }
    lifeline.read.reset();  // its write end stays ours until the child is done
    // Killed should this process end before the child does.
    struct Registered {
        exit_cleanup::Slot slot;
        ~Registered() { exit_cleanup::Remove(slot); }
    } registered{exit_cleanup::AddChild(pid)};
    errors.write.reset();
    captured.write.reset();
    report.write.reset();

    // Exec closes the report pipe; a failure before that writes its errno.
    int startError = 0;
    ssize_t got;
    do {
        got = ::read(report.read.get(), &startError, sizeof startError);
    } while (got < 0 && errno == EINTR);
    if (got == static_cast<ssize_t>(sizeof startError)) {
        ::waitpid(pid, nullptr, 0);
        result.startFailure = std::strerror(startError);
        return result;
    }

    // Readable once the child ends, so that the wait ends then, not at the
    // next tick (a descendant may keep its pipes open and silent).
    const Fd exitWatch(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    const int exitFd = exitWatch.get();

    ChildWatch watch(request, cancel);
    bool errorsOpen = true, outputOpen = capture, outputOver = false, errorsOver = false;
    int status = 0;
    bool exited = false;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) exited = true;
        if (exited && !errorsOpen && !outputOpen) break;
        if (!watch.killedFor() && watch.Check(outputOver)) {
            ::kill(-pid, SIGKILL);
            ::kill(pid, SIGKILL);
        }
        if (exited) {
            // What is left in the pipes is read; a descendant still holding
            // them open is not waited for.
            ::kill(-pid, SIGKILL);
            if (errorsOpen)
                DrainLeft(errors.read.get(), result.errors, request.errorLimit, errorsOver);
            if (outputOpen) {
                DrainLeft(captured.read.get(), result.output, request.outputLimit, outputOver);
            }
            break;
        }
        pollfd fds[3];
        nfds_t count = 0;
        if (errorsOpen) fds[count++] = {errors.read.get(), POLLIN, 0};
        if (outputOpen) fds[count++] = {captured.read.get(), POLLIN, 0};
        if (count > 0 && exitFd >= 0) fds[count++] = {exitFd, POLLIN, 0};
        const int wait = count == 0 ? 10 : static_cast<int>(watch.Tick().count());
        if (count == 0) {
            ::usleep(wait * 1000);
            continue;
        }
        if (::poll(fds, count, wait) <= 0) continue;
        for (nfds_t i = 0; i < count; ++i) {
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0 || fds[i].fd == exitFd) {
                continue;
            }
            if (fds[i].fd == errors.read.get()) {
                errorsOpen = Drain(errors.read.get(), result.errors, request.errorLimit,
                                   errorsOver) != Read::End;
            } else {
                outputOpen = Drain(captured.read.get(), result.output, request.outputLimit,
                                   outputOver) != Read::End;
            }
        }
    }
    if (!exited) ::waitpid(pid, &status, 0);

    ChildResult::Ending ending = ChildResult::Ending::Signalled;
    int code = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    if (WIFEXITED(status)) {
        ending = ChildResult::Ending::Exited;
        code = WEXITSTATUS(status);
    } else if (code == SIGXFSZ) {
        ending = ChildResult::Ending::WroteTooMuch;
    } else if (code == SIGXCPU) {
        ending = ChildResult::Ending::CpuLimit;
    }
    watch.End(result, ending, code, outputOver);
    return result;
}

}  // namespace a5merge
