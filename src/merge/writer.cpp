#include "merge/writer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
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

const Needle kMarker(kMarkerToken);
const Needle kMerged(kMergedToken);

// What a pass does with each line of its input, and the searches that find
// those lines in one pass over a block: `search` looks for the drop needles
// (first) and the widen needle, `checked` for the check's two needles too.
struct PassRules {
    std::vector<const Needle*> drop;  // a line holding one of these is left out
    const Needle* widen;              // a line holding this becomes kA4BoundingBox
    MultiSearch search;
    MultiSearch checked;

    PassRules(std::vector<const Needle*> dropped, const Needle* widened)
        : drop(std::move(dropped)),
          widen(widened),
          search(Needles(false)),
          checked(Needles(true)) {}

    int markerIndex() const { return static_cast<int>(drop.size()) + (widen != nullptr ? 1 : 0); }
    int mergedIndex() const { return markerIndex() + 1; }

private:
    std::vector<const Needle*> Needles(bool withCheck) const {
        std::vector<const Needle*> needles = drop;
        if (widen != nullptr) needles.push_back(widen);
        if (withCheck) needles.insert(needles.end(), {&kMarker, &kMerged});
        return needles;
    }
};

const PassRules kBottomPass({&kEot, &kShowpage}, &kBoundingBox);
const PassRules kTopPass({&kDupMulExch, &kStatusdict}, nullptr);

// One line of a block: its text from `start` to `end`, and where the next
// line starts (after its CR, or CR LF).
struct Line {
    std::size_t start, end, next;
};

Line LineAround(std::string_view block, std::size_t at) {
    Line line{0, block.find('\r', at), block.size()};
    if (at > 0) {
        if (const std::size_t cr = block.rfind('\r', at - 1); cr != std::string_view::npos) {
            line.start = cr + 1 < block.size() && block[cr + 1] == '\n' ? cr + 2 : cr + 1;
        }
    }
    if (line.end == std::string_view::npos) {
        line.end = block.size();
    } else {
        line.next = line.end + 1 < block.size() && block[line.end + 1] == '\n' ? line.end + 2
                                                                               : line.end + 1;
    }
    return line;
}

// A line too long for the read buffer, read once: searched as it streams by
// and kept aside meanwhile (memory bounded, the rest in a temporary file),
// then written as it was read when the pass keeps it as it stands.
void CopyLongLine(TextFiles& files, int in, int out, const PassRules& rules, std::string& lineBuf,
                  InputCheck* check) {
    std::vector<StreamSearch> searches;
    for (const Needle* needle : rules.drop) searches.emplace_back(*needle);
    if (rules.widen != nullptr) searches.emplace_back(*rules.widen);
    Spool line;
    const bool ended = files.StreamLine(in, [&searches, check, &line](std::string_view piece) {
        for (StreamSearch& search : searches) search.Feed(piece);
        if (check != nullptr) check->Feed(piece);
        line.Append(piece);
    });
    if (check != nullptr && ended) check->Feed("\r");
    bool dropped = false;
    for (std::size_t i = 0; i < rules.drop.size(); ++i) dropped = dropped || searches[i].found();
    const bool widened = !dropped && rules.widen != nullptr && searches.back().found();
    if (widened) {
        files.PrintLine(out, kA4BoundingBox);
    } else if (!dropped) {
        line.ForEach([&files, out](std::string_view piece) { files.Print(out, piece); });
        files.Print(out, "\r\n");
    }
    lineBuf = widened ? kA4BoundingBox : std::string_view();  // too long to keep
}

// Copies the lines of one block by the pass's rules. One scan finds the
// lines that change (those holding a needle, and those not ended by CR LF);
// everything between them goes out unchanged, as one piece. With `check`, the
// block also feeds the input check: lines 1 and 2 directly, the check's
// needles from line 3 on through the same scan.
void CopyBlock(std::string_view block, TextFiles& files, int out, const PassRules& rules,
               std::string& lineBuf, InputCheck* check) {
    const std::size_t body = check != nullptr ? check->FeedHeader(block) : block.size();
    static thread_local std::vector<MultiSearch::Event> events;
    (check != nullptr ? rules.checked : rules.search).Scan(block, events);

    std::size_t run = 0;   // start of what is not written yet
    std::size_t done = 0;  // lines before this are written or dropped
    bool lastWidened = false;
    for (const MultiSearch::Event& event : events) {
        if (check != nullptr && event.needle >= rules.markerIndex()) {
            if (event.at < body) continue;  // lines 1 and 2 are the header's
            if (event.needle == rules.markerIndex()) check->FoundMarker();
            if (event.needle == rules.mergedIndex()) check->FoundMerged();
            continue;
        }
        if (event.at < done) continue;
        if (event.needle == MultiSearch::kLoneCr) {  // written again, with CR LF
            files.Print(out, block.substr(run, event.at - run));
            files.Print(out, "\r\n");
            run = done = event.at + 1;
            continue;
        }
        const Line line = LineAround(block, event.at);
        const std::string_view text = block.substr(line.start, line.end - line.start);
        const bool dropped = std::any_of(rules.drop.begin(), rules.drop.end(),
                                         [text](const Needle* needle) { return needle->In(text); });
        files.Print(out, block.substr(run, line.start - run));
        if (!dropped) files.PrintLine(out, kA4BoundingBox);
        run = done = line.next;
        lastWidened = !dropped && line.next == block.size();
    }
    if (run < block.size()) {
        files.Print(out, block.substr(run));
        // The file's last line may end without CR LF (a lone CR was an event).
        if (!block.ends_with("\r\n")) files.Print(out, "\r\n");
    }
    if (lastWidened) {
        lineBuf = kA4BoundingBox;
    } else if (!block.empty()) {
        // The last line: the one the block's last line end closes, or that has none.
        std::size_t end = block.size();
        if (block.ends_with("\r\n")) {
            end -= 2;
        } else if (block.back() == '\r') {
            end -= 1;
        }
        const std::size_t cr = end == 0 ? std::string_view::npos : block.rfind('\r', end - 1);
        std::size_t start = cr == std::string_view::npos ? 0 : cr + 1;
        if (cr != std::string_view::npos && start < end && block[start] == '\n') ++start;
        lineBuf.assign(block.substr(start, end - start));
    }
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
    int Output(const std::string& path, IfExists ifExists, SpecialFiles special) {
        ifExists_ = ifExists;
        special_ = special;
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
            files_.OpenOutput(no, path, ifExists_, special_);
        } else {
            files_.OpenInput(no, path);
        }
        numbers_[count_++] = no;
        return no;
    }

    TextFiles& files_;
    IfExists ifExists_ = IfExists::Replace;
    SpecialFiles special_ = SpecialFiles::WriteInto;
    int numbers_[3] = {};
    int count_ = 0;
};

// Copies input `path` by the pass's rules into `out`, under a number kept in
// `fileNo`. With `flags`, also checks it as it is read, as Test does (a file
// that is not ordinary or cannot be read to its end is refused like one whose
// header fails), records the flags in `state` and why it refused the file in
// `detail`, and returns whether the check accepts the file.
bool CopyInput(OpenedHere& opened, TextFiles& files, const std::string& path, int& fileNo, int out,
               const PassRules& rules, MergeState& state, std::optional<CheckFlags>* flags,
               CheckDetail* detail) {
    if (flags == nullptr) {
        fileNo = opened.Input(path);
        CopyPass(files, fileNo, out, rules, state.lineBuf, nullptr);
        opened.Close(fileNo);
        return true;
    }
    InputCheck check;
    bool ordinary = true;
    try {
        ordinary = FileExists(path);
        if (!ordinary) throw RuntimeError(path, "not an ordinary file");
        fileNo = opened.Input(path);
        CopyPass(files, fileNo, out, rules, state.lineBuf, &check);
        opened.Close(fileNo);
        *flags = check.Finish();
        detail->fault = check.Fault();
    } catch (const RuntimeError& error) {
        // The output failed, or this process ran short: no verdict on the file.
        if (error.path() != path || path == state.outFile || IsShortage(error.systemError())) {
            throw;
        }
        *flags = kUnreadable;
        *detail =
            ordinary ? CheckDetail{CheckFault::Unreadable, error.reason()} : WhyNotOrdinary(path);
    }
    Record(**flags, state);
    return VerdictOf(**flags) == DropVerdict::Accepted;
}

}  // namespace

void WriteMerged(MergeState& state, TextFiles& files, IfExists ifExists, ReadChecks* checks,
                 SpecialFiles special) {
    OpenedHere opened(files);
    const int outNo = opened.Output(state.outFile, ifExists, special);

    // A refused input leaves the output to be dropped with the files opened here.
    if (!CopyInput(opened, files, state.bottomFile, state.bottomFileNo, outNo, kBottomPass, state,
                   checks != nullptr ? &checks->bottom : nullptr,
                   checks != nullptr ? &checks->bottomDetail : nullptr)) {
        return;
    }
    files.PrintLine(outNo, kInsertComment);
    files.PrintLine(outNo, kShiftComment);
    files.PrintLine(outNo, kShiftUp);
    if (!CopyInput(opened, files, state.topFile, state.topFileNo, outNo, kTopPass, state,
                   checks != nullptr ? &checks->top : nullptr,
                   checks != nullptr ? &checks->topDetail : nullptr)) {
        return;
    }
    opened.Close(outNo);
}

}  // namespace a5merge
