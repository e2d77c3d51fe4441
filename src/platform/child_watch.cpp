#include "platform/child_watch.h"

namespace a5merge {

using Ending = ChildResult::Ending;
using std::chrono::steady_clock;

constexpr std::chrono::milliseconds kFolderLook{20};

ChildWatch::ChildWatch(const ChildRequest& request, const std::atomic<bool>* cancel)
    : cancel_(cancel),
      deadline_(steady_clock::now() + request.limits.wallClock),
      timed_(request.limits.wallClock.count() > 0),
      folder_(request.limits.folderBytes > 0 ? request.limits.folder : std::string()),
      folderBytes_(request.limits.folderBytes),
      fileBytes_(request.limits.fileBytes),
      nextLook_(steady_clock::now()) {}

std::optional<Ending> ChildWatch::Check(bool outputOver,
                                        std::optional<std::uint64_t> outputFileBytes) {
    if (killedFor_) return killedFor_;
    const auto now = steady_clock::now();
    const bool looks = !folder_.empty() && now >= nextLook_;
    if (looks) nextLook_ = now + kFolderLook;
    if (cancel_ != nullptr && cancel_->load()) {
        killedFor_ = Ending::Cancelled;
    } else if (timed_ && now >= deadline_) {
        killedFor_ = Ending::TimedOut;
    } else if (outputOver) {
        killedFor_ = Ending::OutputTooLarge;
    } else if (looks && FolderBytes(folder_) > folderBytes_) {
        killedFor_ = Ending::WroteTooMuch;
    } else if (outputFileBytes && fileBytes_ > 0 && *outputFileBytes > fileBytes_) {
        killedFor_ = Ending::WroteTooMuch;
    }
    return killedFor_;
}

std::chrono::milliseconds ChildWatch::Tick() const {
    if (killedFor_) return std::chrono::milliseconds(10);
    return folder_.empty() ? std::chrono::milliseconds(50) : kFolderLook;
}

void ChildWatch::End(ChildResult& result, Ending ending, int status, bool outputOver) const {
    if (killedFor_) {
        result.ending = *killedFor_;
    } else {
        result.ending = ending;
        result.status = status;
    }
    if (outputOver && result.ending != Ending::Cancelled && result.ending != Ending::TimedOut) {
        result.ending = Ending::OutputTooLarge;
    }
}

}  // namespace a5merge
