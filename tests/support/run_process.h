#pragma once

#include <cstdlib>
#include <string>
#include <vector>

namespace a5merge::testing {

struct ProcessResult {
    int status = -1;  // exit status; -1 when ended by a signal
    std::string out;
    std::string err;
    long maxRssKiB = 0;  // peak memory
};

// `built`, or the program the environment variable `override` names when it
// is set (to run the same tests against another build).
inline std::string ProgramUnderTest(const char* built, const char* override) {
    const char* other = std::getenv(override);
    return other != nullptr && *other != '\0' ? other : built;
}

// Runs `argv` in `cwd` (the current folder when empty) and waits for it.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& cwd = "");

#ifdef _WIN32
// RunProcess with `name` set to `value` in the child's environment alone
// (so that this process may keep a TMP its own run-time can use).
ProcessResult RunProcessWith(const std::vector<std::string>& argv, const std::string& cwd,
                             const std::string& name, const std::string& value);

// How many processes of the program named `exe` ("gswin64c.exe") run now;
// with `parents`, only those that one of these processes started.
int RunningProcesses(const wchar_t* exe, const std::vector<unsigned long>& parents = {});
#endif

}  // namespace a5merge::testing
