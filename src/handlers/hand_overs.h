#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace a5merge {

// Files handed to the window from outside (its command line, a second
// copy), each hand-over (TOP, then BOTTOM when there are two) taken as drops
// one at a time: only once the window is shown, and never while a handler of
// the window runs, so that a box a hand-over shows is closed before the next
// is taken. At most kCapacity hand-overs wait; more are refused.
class HandOvers {
public:
    static constexpr std::size_t kCapacity = 8;

    // `later` asks the window to call TakeNext soon, from its event loop.
    explicit HandOvers(std::function<void()> later) : later_(std::move(later)) {}

    // Queues `files` (one or two); false when the queue is full.
    bool Add(std::vector<std::string> files);
    // The window is on the screen: hand-overs may be taken from now on.
    void Shown();
    // Around every handler of the window.
    void HandlerStarts() { ++running_; }
    void HandlerEnds();

    // The next hand-over to take now, if one waits and may be taken; the
    // one after it is asked for later.
    std::optional<std::vector<std::string>> TakeNext();

    std::size_t waiting() const { return waiting_.size(); }

private:
    void AskLater();

    std::function<void()> later_;
    std::deque<std::vector<std::string>> waiting_;
    bool shown_ = false;
    int running_ = 0;
    bool asked_ = false;  // TakeNext is due
};

}  // namespace a5merge
