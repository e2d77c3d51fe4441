#include "handlers/hand_overs.h"

#include <thread>

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

std::string HandOverNames(const std::vector<std::string>& files) {
    std::string names;
    for (const std::string& file : files) names += file + '\0';
    return names;
}

std::optional<std::vector<std::string>> FilesOfHandOver(
    std::string_view names, std::size_t longestName,
    const std::function<bool(std::string_view)>& isAbsolute) {
    std::vector<std::string> files;
    while (!names.empty()) {
        const std::size_t end = names.find('\0');
        if (end == std::string_view::npos || files.size() == 2) return std::nullopt;
        const std::string_view name = names.substr(0, end);
        if (name.empty() || name.size() > longestName || !isAbsolute(name)) return std::nullopt;
        files.emplace_back(name);
        names.remove_prefix(end + 1);
    }
    return files;
}

namespace {

std::string Names(const std::vector<std::string>& files) {
    std::string names;
    for (const std::string& file : files) names += (names.empty() ? "" : " and ") + file;
    return names;
}

}  // namespace

SecondCopyOutcome HandToTheCopyThatRuns(const SecondCopy& copy,
                                        const std::vector<std::string>& files) {
    const auto deadline = std::chrono::steady_clock::now() + copy.patience;
    const char* them = files.size() == 1 ? "it" : "them";
    for (;;) {
        const HandedOver handed = copy.handOver(files);
        if (files.empty()) return {};
        if (handed == HandedOver::Taken) return {true, {}};
        if (handed == HandedOver::OtherRights) {
            return {false,
                    "It runs with other rights (as administrator?), which keep this copy "
                    "from giving it " +
                        Names(files) + ": open " + them + " in its window."};
        }
        if (!copy.stillRunning()) return {};
        if (std::chrono::steady_clock::now() >= deadline) {
            return {false, "Its window did not take " + Names(files) + ": open " + them +
                               " in its window."};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

}  // namespace a5merge
