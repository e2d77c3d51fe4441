#include "handlers/hand_overs.h"

namespace a5merge {

bool HandOvers::Add(std::vector<std::string> files) {
    if (files.empty()) return true;
    if (waiting_.size() >= kCapacity) return false;
    waiting_.push_back(std::move(files));
    AskLater();
    return true;
}

void HandOvers::Shown() {
    shown_ = true;
    AskLater();
}

void HandOvers::HandlerEnds() {
    if (running_ > 0) --running_;
    AskLater();
}

std::optional<std::vector<std::string>> HandOvers::TakeNext() {
    asked_ = false;
    if (!shown_ || running_ > 0 || waiting_.empty()) return std::nullopt;
    std::vector<std::string> next = std::move(waiting_.front());
    waiting_.pop_front();
    AskLater();
    return next;
}

void HandOvers::AskLater() {
    if (asked_ || !shown_ || running_ > 0 || waiting_.empty()) return;
    asked_ = true;
    later_();
}

}  // namespace a5merge
