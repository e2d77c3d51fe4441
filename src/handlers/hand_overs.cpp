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

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<std::string> PathOfFileUri(std::string_view uri) {
    constexpr std::string_view kScheme = "file:";
    if (!uri.starts_with(kScheme)) return std::nullopt;
    uri.remove_prefix(kScheme.size());
    if (uri.starts_with("//")) {  // an authority: none, or this machine
        uri.remove_prefix(2);
        const std::size_t slash = uri.find('/');
        const std::string_view host = uri.substr(0, slash);
        if (slash == std::string_view::npos || (!host.empty() && host != "localhost")) {
            return std::nullopt;
        }
        uri.remove_prefix(slash);
    }
    if (uri.empty() || uri.front() != '/') return std::nullopt;
    std::string path;
    for (std::size_t i = 0; i < uri.size(); ++i) {
        const int high = uri[i] == '%' && i + 2 < uri.size() ? HexDigit(uri[i + 1]) : -1;
        const int low = high >= 0 ? HexDigit(uri[i + 2]) : -1;
        if (low >= 0) {
            path += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            path += uri[i];
        }
    }
    return path;
}

std::optional<std::string> PathOfPastedText(std::string_view text, PastedText rule) {
    constexpr std::string_view kWhite = " \t\n\v\f\r";
    const std::size_t first = text.find_first_not_of(kWhite);
    if (first == std::string_view::npos) return std::nullopt;
    text = text.substr(first, text.find_last_not_of(kWhite) - first + 1);
    if (text.find_first_of("\r\n") != std::string_view::npos) return std::nullopt;
    if (rule == PastedText::AbsolutePathOrUri) {
        if (text.starts_with('/')) return std::string(text);
        return PathOfFileUri(text);
    }
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        text = text.substr(1, text.size() - 2);
    }
    if (text.empty()) return std::nullopt;
    return std::string(text);
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
