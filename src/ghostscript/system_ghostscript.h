#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace a5merge {

struct ChildResult;

// How Ghostscript is found and run on this system: one file per system.

// Ghostscript's full path: A5MERGE_GHOSTSCRIPT when it is set (and names a
// program), else where this system keeps it; empty when there is none.
std::string FindGhostscript();

// The environment of a run whose temporary folder is `temporary`: nothing
// of ours (GS_OPTIONS cannot leak in), only what the program needs.
std::vector<std::string> GhostscriptEnvironment(const std::string& temporary);

// Why Ghostscript cannot have `folder` as its temporary and current folder
// on this system, or empty text. (On Windows: a path too long for a
// program that is not long-path aware.)
std::string FolderTrouble(const std::string& folder);

// The sandbox program of this system (bubblewrap on Linux), or empty text
// where there is none.
std::string SandboxProgram();

// `command` (a program's full path and its arguments) run by `sandbox`: in
// new namespaces of every kind, the system's programs, libraries and font
// settings read-only and nothing else of the host's file system, a new
// file system in memory of `temporaryBytes` as its /tmp and current folder
// (so that all it may write is bounded and gone with it), no capabilities, a
// session of its own. Run it with a lifeline (ChildRequest::lifeline):
// everything in the sandbox is killed once that reaches its end, as it does
// when we end, however we end.
std::vector<std::string> SandboxedCommand(const std::string& sandbox,
                                          const std::vector<std::string>& command,
                                          std::uint64_t temporaryBytes);

// What the sandbox's own exit status says of what it ran (bubblewrap ends
// with 128 and the signal that ended it), and a file system of its own
// found full: `result` as if the program had ended so. True when the
// sandbox was made (its mark, first on standard error, is taken away).
bool ReadSandboxEnding(ChildResult& result);

// What the sandbox writes first on standard error once it is made.
inline constexpr const char* kSandboxMadeMark = "a5merge: sandbox made\n";

// The temporary folder as the sandboxed program sees it.
inline constexpr const char* kSandboxTemporaryFolder = "/tmp";

}  // namespace a5merge
