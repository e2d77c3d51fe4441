// Runs a program on Linux, its output in files.

#include "support/run_process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "support/temp_folder.h"

namespace a5merge::testing {

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& cwd) {
    TempFolder capture;
    const std::string outPath = capture.Path("out");
    const std::string errPath = capture.Path("err");
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        // Close-on-exec: the program gets descriptors 0, 1 and 2 only.
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) std::_Exit(127);
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) std::_Exit(127);
        ::execv(args[0], args.data());
        const std::string why = std::string("cannot run ") + args[0] + ": " + std::strerror(errno);
        (void)!::write(2, why.data(), why.size());
        std::_Exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    ProcessResult result;
    result.maxRssKiB = usage.ru_maxrss;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadBytes(outPath);
    result.err = ReadBytes(errPath);
    return result;
}

}  // namespace a5merge::testing
