#pragma once

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace a5merge {

// A failing run-time service: which path, the system's reason, and the
// system's error number when there is one (0 otherwise).
class RuntimeError : public std::runtime_error {
public:
    RuntimeError(std::string path, std::string reason, int systemError = 0)
        : std::runtime_error(path + ": " + reason),
          path_(std::move(path)),
          reason_(std::move(reason)),
          systemError_(systemError) {}

    // The system's own reason for `systemError` (an errno value).
    static RuntimeError FromSystem(std::string path, int systemError) {
        return RuntimeError(std::move(path), std::strerror(systemError), systemError);
    }

    const std::string& path() const { return path_; }
    const std::string& reason() const { return reason_; }
    int systemError() const { return systemError_; }

private:
    std::string path_;
    std::string reason_;
    int systemError_;
};

// Whether `systemError` is a shortage of this process or system (open files,
// memory) rather than something about the file: such a failure is a failed
// run, never a verdict on the file.
inline bool IsShortage(int systemError) {
    return systemError == EMFILE || systemError == ENFILE || systemError == ENOMEM;
}

// Whether `systemError` says that a path names nothing.
inline bool IsMissing(int systemError) { return systemError == ENOENT || systemError == ENOTDIR; }

}  // namespace a5merge
