#pragma once

#include <optional>
#include <string>
#include <vector>

namespace a5merge {

inline constexpr const char* kProgram = "a5merge-cli";
inline constexpr const char* kStandardOutput = "-";

enum ExitStatus {
    kDone = 0,
    kRefused = 1,
    kUsage = 2,
    kExists = 3,
    kWriteFailed = 4,
    kWillNotPrint = 5
};

struct Options {
    bool help = false;
    bool version = false;
    bool check = false;
    bool force = false;
    bool pdf = false;
    bool verify = false;
    std::optional<std::string> output;
    std::vector<std::string> files;
};

// Options, or the usage error that stopped reading them.
std::optional<Options> ParseCliOptions(int argc, char** argv, std::string& error);

// The help, with how to print on this system.
std::string HelpText();

}  // namespace a5merge
