#pragma once

// What each system's RunChild decides alike: when a running child is
// killed and for what, and how it ended once it is gone.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/child_process.h"

namespace a5merge {

class ChildWatch {
public:
    ChildWatch(const ChildRequest& request, const std::atomic<bool>* cancel);

    // What the child is to be killed for now, if anything: once a reason is
    // found it stays. `outputOver`: its captured output passed the limit;
    // `outputFileBytes`: its output file's size, where the system looks.
    std::optional<ChildResult::Ending> Check(bool outputOver,
                                             std::optional<std::uint64_t> outputFileBytes = {});
    const std::optional<ChildResult::Ending>& killedFor() const { return killedFor_; }
    // How long to wait for the child between two checks.
    std::chrono::milliseconds Tick() const;

    // How it ended: what it was killed for, else `ending` and `status` as
    // the system tells; output past the limit unless it was stopped first.
    void End(ChildResult& result, ChildResult::Ending ending, int status, bool outputOver) const;

private:
    const std::atomic<bool>* cancel_;
    std::chrono::steady_clock::time_point deadline_;
    bool timed_;
    std::string folder_;
    std::uint64_t folderBytes_;
    std::uint64_t fileBytes_;
    std::chrono::steady_clock::time_point nextLook_;  // at the folder
    std::optional<ChildResult::Ending> killedFor_;
};

// The room the files in `folder` take on the disk, in bytes, each counted
// at least 4 KiB more: many empty files are not free either. Each system's.
std::uint64_t FolderBytes(const std::string& folder);

}  // namespace a5merge
