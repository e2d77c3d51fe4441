#include "handlers/hand_overs.h"

namespace a5merge {

bool HandOvers::FromAnotherCopy(std::vector<std::string> files) {
    return Open() && Add(std::move(files));
}

bool HandOvers::Add(std::vector<std::string> files) {
    if (files.empty()) return true;
    if (closing_ || waiting_.size() >= kCapacity) return false;
    Zone first = Zone::Top;
    if (files.size() == 1) {
        const Clock::time_point now = now_();
        if (loneTop_ && now - *loneTop_ <= kTogether) {
            first = Zone::Bottom;  // the second of two started together
            loneTop_.reset();
        } else {
            loneTop_ = now;
        }
    } else {
        loneTop_.reset();
    }
    waiting_.push_back({std::move(files), first});
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

std::optional<HandOvers::HandOver> HandOvers::TakeNext() {
    asked_ = false;
    if (!shown_ || running_ > 0 || waiting_.empty()) return std::nullopt;
    HandOver next = std::move(waiting_.front());
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
