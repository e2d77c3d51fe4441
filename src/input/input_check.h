#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/text_search.h"
#include "state/merge_state.h"

namespace a5merge {

class TextFiles;

// Tokens an input file must hold: line 1, line 2 (both), a line from 3 on.
inline constexpr const char* kHeaderToken = "%!PS-Adobe";
inline constexpr const char* kCreatorToken = "%%Creator: Quobl";
inline constexpr const char* kIdentifierToken = "ZQ9XKV";
inline constexpr const char* kMarkerToken = "%%TEXT723DUMMY";
// Held by every merged file, from line 3 on.
inline constexpr const char* kMergedToken = " 2e A5 ";

// What the check records of one file, as the three flags of MergeState.
struct CheckFlags {
    std::int16_t TEXT723DUMMY = 0;  // marker line found from line 3 on
    std::int16_t dubbel = 0;        // already-merged marker found from line 3 on
    std::int16_t foutefile = 0;     // header test failed
    bool operator==(const CheckFlags&) const = default;
};

// The flags of a file that could not be found or read.
inline constexpr CheckFlags kUnreadable{0, 0, 1};

// Copies `flags` into the three check flags of `state`.
void Record(const CheckFlags& flags, MergeState& state);

// Why the check refused a file, for whoever asks (a5merge-cli says it; the
// window keeps its own texts).
enum class CheckFault {
    None,
    NotFound,
    NotRegular,  // a folder, a FIFO, a device...
    Hidden,      // Linux: its name starts with a dot; Windows: its Hidden attribute
    System,      // Windows: its System attribute
    Unreadable,  // the system's reason says why
    Empty,
    LfOnly,    // line 1 holds LF: its lines end with LF alone
    NoHeader,  // line 1 lacks "%!PS-Adobe"
    NoSecondLine,
    NoCreator,     // line 2 lacks "%%Creator: Quobl"
    NoIdentifier,  // line 2 lacks "ZQ9XKV"
    NoMarker,      // no line from 3 on holds "%%TEXT723DUMMY"
    Merged,        // a line from 3 on holds " 2e A5 "
};

struct CheckDetail {
    CheckFault fault = CheckFault::None;
    std::string systemReason;  // for Unreadable
};

// The fault as a user reads it ("its lines end with LF only; ..."); empty
// for None.
std::string DetailText(const CheckDetail& detail);

// Why `path`, which the check could not read as an ordinary file, was not:
// NotFound, Hidden, System, NotRegular, or Unreadable with the system's
// reason.
CheckDetail WhyNotOrdinary(const std::string& path);

// The check of one file, fed the file's bytes in order as they are read, in
// pieces of any size: line 1 must hold the header token, line 2 both creator
// tokens, and from line 3 on the marker and the already-merged marker are
// looked for. A file without a second line fails its header.
class InputCheck {
public:
    InputCheck();

    void Feed(std::string_view bytes);
    // For a caller that searches the bytes past line 2 itself, in the same
    // order: feeds what of `bytes` belongs to lines 1 and 2 and returns its
    // length (0 once past line 2); the rest is for the caller to search.
    std::size_t FeedHeader(std::string_view bytes);
    // What that caller found past line 2.
    void FoundMarker() { markerFound_ = true; }
    void FoundMerged() { mergedFound_ = true; }
    // True once line 1 or line 2 has failed: the rest need not be read.
    bool HeaderFailed() const { return headerFailed_; }
    // What the file held, once all of it has been fed.
    CheckFlags Finish() const;
    // Why Finish refuses it (None when it accepts it).
    CheckFault Fault() const;

private:
    void EndHeaderLine();

    int line_ = 1;  // 1 and 2 are the header lines; 3 stands for every later one
    bool headerFailed_ = false;
    bool fed_ = false;  // a byte at all
    bool lfInLine1_ = false;
    bool afterCr_ = false;  // the last byte fed ended line 1
    bool line2Started_ = false;
    bool markerFound_ = false;
    bool mergedFound_ = false;
    StreamSearch header_;
    StreamSearch creator_;
    StreamSearch identifier_;
    StreamSearch marker_;
    StreamSearch merged_;
};

// Reads `PSbestand` and records in `state`: foutefile (1 when line 1 lacks the
// header token or line 2 lacks a creator token), TEXT723DUMMY (1 when a line
// from line 3 on holds the marker) and dubbel (1 when such a line holds the
// already-merged marker). A file that cannot be found (no ordinary file) or
// read to its end, is empty, or has no second line, records foutefile 1 and
// both others 0. Closes every open file at the end. A shortage of this
// process (too many open files, no memory) throws RuntimeError instead.
// With `detail`, also says why a file is refused.
void Test(MergeState& state, TextFiles& files, const std::string& PSbestand,
          CheckDetail* detail = nullptr);

}  // namespace a5merge
