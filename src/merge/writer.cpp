#include "merge/writer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "input/drop_zones.h"
#include "input/input_check.h"
#include "input/path_helpers.h"
#include "platform/runtime_error.h"
#include "platform/text_files.h"
#include "platform/text_search.h"

namespace a5merge {

namespace {

const Needle kEot("\x04");
const Needle kShowpage("showpage");
const Needle kBoundingBox("%%BoundingBox");
const Needle kDupMulExch("dup mul exch");
const Needle kStatusdict("statusdict");

// What a pass does with each line of its input.
struct PassRules {
    std::initializer_list<const Needle*> drop;  // a line holding one of these is left out
    const Needle* widen;                        // a line holding this becomes kA4BoundingBox
};

const PassRules kBottomPass{{&kEot, &kShowpage}, &kBoundingBox};
const PassRules kTopPass{{&kDupMulExch, &kStatusdict}, nullptr};

// Where a needle next occurs in a block of lines, from a position on.
class NextHit {
public:
    NextHit(const Needle* needle, std::string_view block) : needle_(needle), block_(block) {
        at_ = needle_->Find(block_);
    }

    std::size_t at() const { return at_; }
    bool Within(std::size_t from, std::size_t to) const { return at_ >= from && at_ < to; }

    // Moves on to the first occurrence at or after `from`.
    void From(std::size_t from) {
        if (at_ >= from || at_ == std::string_view::npos) return;
        const std::size_t next = needle_->Find(block_.substr(from));
        at_ = next == std::string_view::npos ? next : from + next;
    }

private:
    const Needle* needle_;
    std::string_view block_;
    std::size_t at_;
};

// A line too long for the read buffer: searched as it streams by, then, when
// it is kept as it stands, read again from its start and copied in pieces.
void CopyLongLine(TextFiles& files, int in, int out, const PassRules& rules, std::string& lineBuf,
                  InputCheck* check) {
    const std::uint64_t start = files.InputPosition(in);
    std::vector<StreamSearch> searches;
    for (const Needle* needle : rules.drop) searches.emplace_back(*needle);
    if (rules.widen != nullptr) searches.emplace_back(*rules.widen);
    const bool ended = files.StreamLine(in, [&searches, check](std::string_view piece) {
        for (StreamSearch& search : searches) search.Feed(piece);
        if (check != nullptr) check->Feed(piece);
    });
    if (check != nullptr && ended) check->Feed("\r");
    bool dropped = false;
    for (std::size_t i = 0; i < rules.drop.size(); ++i) dropped = dropped || searches[i].found();
    const bool widened = !dropped && rules.widen != nullptr && searches.back().found();
    if (widened) {
        files.PrintLine(out, kA4BoundingBox);
    } else if (!dropped) {
        files.SeekInput(in, start);
        files.StreamLine(in, [&files, out](std::string_view piece) { files.Print(out, piece); });
        files.Print(out, "\r\n");
    }
    lineBuf = widened ? kA4BoundingBox : std::string_view();  // too long to keep
}

// Copies the lines of one block by the pass's rules. The needles hold no
// line end, so a line holds one exactly when an occurrence in the block
// starts within it: the block is searched as a whole, and the lines between
// hits go out as they stand whenever their line end already is CR LF.
void CopyBlock(std::string_view block, TextFiles& files, int out, const PassRules& rules,
               std::string& lineBuf, InputCheck* check) {
    if (check != nullptr) check->Feed(block);
    std::vector<NextHit> hits;
    for (const Needle* needle : rules.drop) hits.emplace_back(needle, block);
    if (rules.widen != nullptr) hits.emplace_back(rules.widen, block);
    const auto firstHit = [&hits] {
        std::size_t first = std::string_view::npos;
        for (const NextHit& hit : hits) first = std::min(first, hit.at());
        return first;
    };
    std::size_t nextHit = firstHit();

    std::size_t pos = 0;
    std::size_t run = 0;  // start of the lines not written yet, all to go out unchanged
    std::string_view line;
    bool widened = false;
    while (pos < block.size()) {
        const auto* cr =
            static_cast<const char*>(std::memchr(block.data() + pos, '\r', block.size() - pos));
        const std::size_t lineEnd = cr == nullptr ? block.size() : cr - block.data();
        std::size_t next = cr == nullptr ? block.size() : lineEnd + 1;
        const bool crlf = next < block.size() && block[next] == '\n';
        if (crlf) ++next;
        line = block.substr(pos, lineEnd - pos);

        bool dropped = false;
        widened = false;
        if (nextHit < lineEnd) {
            for (std::size_t i = 0; i < rules.drop.size(); ++i) {
                dropped = dropped || hits[i].Within(pos, lineEnd);
            }
            widened = !dropped && rules.widen != nullptr && hits.back().Within(pos, lineEnd);
            for (NextHit& hit : hits) hit.From(next);
            nextHit = firstHit();
        }
        if (dropped || widened || !crlf) {
            files.Print(out, block.substr(run, pos - run));
            if (widened) {
                files.PrintLine(out, kA4BoundingBox);
            } else if (!dropped) {
                files.PrintLine(out, line);
            }
            run = next;
        }
        pos = next;
    }
    files.Print(out, block.substr(run, pos - run));
    lineBuf = widened ? kA4BoundingBox : line;
}

// Copies input `in` to output `out` by the pass's rules, and leaves the last
// line read (as written, when widened) in `lineBuf` when it fits the buffer.
// With `check`, every byte read is also fed to it, and the pass stops as
// soon as the check has failed.
void CopyPass(TextFiles& files, int in, int out, const PassRules& rules, std::string& lineBuf,
              InputCheck* check) {
    while (check == nullptr || !check->HeaderFailed()) {
        bool longLine = false;
        const std::string_view block = files.InputLines(in, longLine);
        if (longLine) {
            CopyLongLine(files, in, out, rules, lineBuf, check);
        } else if (block.empty()) {
            return;
        } else {
            CopyBlock(block, files, out, rules, lineBuf, check);
        }
    }
}

// Files this call opened and has not closed yet are closed when it leaves.
class OpenedHere {
public:
    explicit OpenedHere(TextFiles& files) : files_(files) {}
    ~OpenedHere() {
        for (int i = 0; i < count_; ++i) files_.Abandon(numbers_[i]);
    }
    OpenedHere(const OpenedHere&) = delete;
    OpenedHere& operator=(const OpenedHere&) = delete;

    int Input(const std::string& path) { return Open(path, false); }
    int Output(const std::string& path, IfExists ifExists) {
        ifExists_ = ifExists;
        return Open(path, true);
    }

    void Close(int no) {
        count_ = static_cast<int>(std::remove(numbers_, numbers_ + count_, no) - numbers_);
        files_.Close(no);
    }

private:
    int Open(const std::string& path, bool output) {
        const int no = files_.FreeFile();
        if (output) {
            files_.OpenOutput(no, path, ifExists_);
        } else {
            files_.OpenInput(no, path);
        }
        numbers_[count_++] = no;
        return no;
    }

    TextFiles& files_;
    IfExists ifExists_ = IfExists::Replace;
    int numbers_[3] = {};
    int count_ = 0;
};

// Copies input `path` by the pass's rules into `out`, under a number kept in
// `fileNo`. With `flags`, also checks it as it is read, as Test does (a file
// that is not ordinary or cannot be read to its end is refused like one whose
// header fails), records the flags in `state` and returns whether the check
// accepts the file.
bool CopyInput(OpenedHere& opened, TextFiles& files, const std::string& path, int& fileNo, int out,
               const PassRules& rules, MergeState& state, std::optional<CheckFlags>* flags) {
    if (flags == nullptr) {
        fileNo = opened.Input(path);
        CopyPass(files, fileNo, out, rules, state.lineBuf, nullptr);
        opened.Close(fileNo);
        return true;
    }
    InputCheck check;
    try {
        if (!FileExists(path)) throw RuntimeError(path, "not an ordinary file");
        fileNo = opened.Input(path);
        CopyPass(files, fileNo, out, rules, state.lineBuf, &check);
        opened.Close(fileNo);
        *flags = check.Finish();
    } catch (const RuntimeError& error) {
        if (error.path() != path || path == state.outFile) throw;  // the output failed
        *flags = kUnreadable;
    }
    Record(**flags, state);
    return VerdictOf(**flags) == DropVerdict::Accepted;
}

}  // namespace

void WriteMerged(MergeState& state, TextFiles& files, IfExists ifExists, ReadChecks* checks) {
    OpenedHere opened(files);
    const int outNo = opened.Output(state.outFile, ifExists);

    // A refused input leaves the output to be dropped with the files opened here.
    if (!CopyInput(opened, files, state.bottomFile, state.bottomFileNo, outNo, kBottomPass, state,
                   checks != nullptr ? &checks->bottom : nullptr)) {
        return;
    }
    files.PrintLine(outNo, kInsertComment);
    files.PrintLine(outNo, kShiftComment);
    files.PrintLine(outNo, kShiftUp);
    if (!CopyInput(opened, files, state.topFile, state.topFileNo, outNo, kTopPass, state,
                   checks != nullptr ? &checks->top : nullptr)) {
        return;
    }
    opened.Close(outNo);
}

}  // namespace a5merge
