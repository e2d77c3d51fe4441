#pragma once

// For the Windows files of this folder only: files and folders of ours that
// must not outlive the process. Children need no entry: each runs in a job
// that the system ends with us.

#include <windows.h>

#include <mutex>
#include <string>

namespace a5merge::windows {

// A file or folder of ours, removed by CleanUpBeforeExit and when Ctrl+C,
// Ctrl+Break or closing the console ends the program; forgotten (not
// removed) when dropped. `held`, a handle of ours that keeps others from
// removing it, is closed first then (the program ends right after).
class CleanupEntry {
public:
    CleanupEntry() = default;
    CleanupEntry(std::string path, bool folder, void* held = nullptr);
    CleanupEntry(CleanupEntry&& other) noexcept : id_(other.id_) { other.id_ = -1; }
    CleanupEntry& operator=(CleanupEntry&& other) noexcept;
    CleanupEntry(const CleanupEntry&) = delete;
    CleanupEntry& operator=(const CleanupEntry&) = delete;
    ~CleanupEntry();

private:
    long id_ = -1;
};

// What Ctrl+C, Ctrl+Break and the console's closing call (installed with
// the first CleanupEntry): CleanUpBeforeExit, then the system's own
// handler, which ends the program.
BOOL WINAPI OnConsoleEnd(DWORD event);

// Held while a new content is put in place beside its target and under its
// name (OutputFile's Commit): CleanUpBeforeExit waits for it first, so that
// a program ended by Ctrl+C or its console's closing leaves the target old
// or new, never half-way.
std::timed_mutex& PlacingLock();

}  // namespace a5merge::windows
