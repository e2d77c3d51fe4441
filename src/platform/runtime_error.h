#pragma once

#include <stdexcept>
#include <string>

namespace a5merge {

// A failing run-time service: which path, and the system's reason.
class RuntimeError : public std::runtime_error {
public:
    RuntimeError(std::string path, std::string reason)
        : std::runtime_error(path + ": " + reason),
          path_(std::move(path)),
          reason_(std::move(reason)) {}

    const std::string& path() const { return path_; }
    const std::string& reason() const { return reason_; }

private:
    std::string path_;
    std::string reason_;
};

}  // namespace a5merge
