#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "input/drop_zones.h"

namespace a5merge {

// Files handed to the window from outside (its command line, a second
// copy), each hand-over taken as drops one at a time: only once the window
// is shown, and never while a handler of the window runs, so that a box a
// hand-over shows is closed before the next is taken. At most kCapacity
// hand-overs wait; more are refused, as every hand-over is before the
// window is shown (but its own command line's), while it asks whether to
// end, and once it is closing: the copy that sent them keeps them.
//
// Two files go to TOP and BOTTOM. One file goes to TOP, but when it comes
// within kTogether of one file that went to TOP, it goes to BOTTOM: a file
// manager opening two selected files starts one copy for each, a moment
// apart.
class HandOvers {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kCapacity = 8;
    static constexpr std::chrono::milliseconds kTogether{3000};

    struct HandOver {
        std::vector<std::string> files;
        Zone first;  // where the first file goes; a second goes to BOTTOM
    };

    // `later` asks the window to call TakeNext soon, from its event loop;
    // `now` is the clock arrivals are timed by.
    explicit HandOvers(std::function<void()> later,
                       std::function<Clock::time_point()> now = &Clock::now)
        : later_(std::move(later)), now_(std::move(now)) {}

    // Queues `files` (one or two) the program was started with, or that
    // another copy hands over; false when they are refused.
    bool Add(std::vector<std::string> files);
    bool FromAnotherCopy(std::vector<std::string> files);
    // The window is on the screen: hand-overs may be taken from now on.
    void Shown();
    // Whether a hand-over from another copy may come now.
    bool Open() const { return shown_ && !closing_ && asking_ == 0; }
    // The window may end (its question is open), or ends: none come.
    void AskingToEnd(bool asking) { asking_ += asking ? 1 : -1; }
    void Closing() { closing_ = true; }
    // Around every handler of the window.
    void HandlerStarts() { ++running_; }
    void HandlerEnds();

    // The next hand-over to take now, if one waits and may be taken; the
    // one after it is asked for later.
    std::optional<HandOver> TakeNext();

    std::size_t waiting() const { return waiting_.size(); }

private:
    void AskLater();

    std::function<void()> later_;
    std::function<Clock::time_point()> now_;
    std::deque<HandOver> waiting_;
    std::optional<Clock::time_point> loneTop_;  // when one file last went to TOP alone
    bool shown_ = false;
    bool closing_ = false;
    int asking_ = 0;
    int running_ = 0;
    bool asked_ = false;  // TakeNext is due
};

// The names a second copy hands over: each file's name and a NUL.
std::string HandOverNames(const std::vector<std::string>& files);
// The files of `names`: none (the window only comes to the front), or one
// or two names that `isAbsolute` takes, none longer than `longestName`;
// nothing when `names` is no hand-over.
std::optional<std::vector<std::string>> FilesOfHandOver(
    std::string_view names, std::size_t longestName,
    const std::function<bool(std::string_view)>& isAbsolute);

// The file a `file:` URI names (no host, or this machine's): its path,
// escapes decoded to the bytes they stand for; nothing for another scheme
// or another host.
std::optional<std::string> PathOfFileUri(std::string_view uri);

// What a pasted text may name. Linux takes an absolute path or a file: URI;
// Windows takes any name (its check then says what is wrong with it), in
// double quotes or not, as "Copy as path" writes one.
enum class PastedText { AbsolutePathOrUri, AnyNameMaybeQuoted };
// The file a pasted text (UTF-8) names: one line, the white space around
// it dropped; nothing for more lines, none, or what `rule` refuses.
std::optional<std::string> PathOfPastedText(std::string_view text, PastedText rule);

// How a second copy's hand-over went.
enum class HandedOver {
    Taken,        // the window that runs has the files
    NotTaken,     // no window took them (none there, or it refused)
    OtherRights,  // that window's process runs with rights above ours
};

// A second copy hands `files` (none: the window only comes to the front)
// to the copy that runs through `handOver`. The first window may not be up
// yet, or may refuse for a moment: while `stillRunning` says the other copy
// runs, files are tried again every 100 ms for `patience`. Taken files
// end this copy; what it says when they were not taken is the text
// returned (empty: it runs a window of its own, the other copy having
// ended, or there were no files).
struct SecondCopy {
    std::function<HandedOver(const std::vector<std::string>& files)> handOver;
    std::function<bool()> stillRunning;
    std::chrono::milliseconds patience{10000};
};
struct SecondCopyOutcome {
    bool taken = false;
    std::string notTaken;  // why, for the window's box
};
SecondCopyOutcome HandToTheCopyThatRuns(const SecondCopy& copy,
                                        const std::vector<std::string>& files);

}  // namespace a5merge
