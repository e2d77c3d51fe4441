#pragma once

#include <string>
#include <vector>

namespace a5merge {

// The sandbox program of this system (bubblewrap on Linux), or empty text
// where there is none.
std::string SandboxProgram();

// `command` (a program's full path and its arguments) run by `sandbox`: in
// new namespaces of every kind, the system's programs, libraries and font
// settings read-only and nothing else of the file system, `folder` as its
// /tmp and current folder, no capabilities, a session of its own, killed
// when its parent dies.
std::vector<std::string> SandboxedCommand(const std::string& sandbox,
                                          const std::vector<std::string>& command,
                                          const std::string& folder);

// The temporary folder as the sandboxed program sees it.
inline constexpr const char* kSandboxTemporaryFolder = "/tmp";

}  // namespace a5merge
