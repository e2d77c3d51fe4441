#include "writer.h"

#include "text_files.h"
#include "text_search.h"

namespace psmerge {

namespace {

const Needle kShowpage("showpage");
const Needle kBoundingBox("%%BoundingBox");
const Needle kDupMulExch("dup mul exch");
const Needle kStatusdict("statusdict");

bool DroppedFromBottom(std::string_view line) {
    return line.find('\x04') != std::string_view::npos || kShowpage.In(line);
}

bool DroppedFromTop(std::string_view line) { return kDupMulExch.In(line) || kStatusdict.In(line); }

// Files this call opened and has not closed yet are closed when it leaves.
class OpenedHere {
public:
    explicit OpenedHere(TextFiles& files) : files_(files) {}
    ~OpenedHere() {
        for (int no : numbers_) files_.Abandon(no);
    }
    OpenedHere(const OpenedHere&) = delete;
    OpenedHere& operator=(const OpenedHere&) = delete;

    int Input(const std::string& path) { return Open(path, false); }
    int Output(const std::string& path) { return Open(path, true); }

    void Close(int no) {
        Forget(no);
        files_.Close(no);
    }

private:
    int Open(const std::string& path, bool output) {
        const int no = files_.FreeFile();
        if (output) {
            files_.OpenOutput(no, path);
        } else {
            files_.OpenInput(no, path);
        }
        numbers_[count_++] = no;
        return no;
    }

    void Forget(int no) {
        for (int i = 0; i < count_; ++i) {
            if (numbers_[i] == no) numbers_[i] = numbers_[--count_];
        }
    }

    TextFiles& files_;
    int numbers_[3] = {};
    int count_ = 0;
};

}  // namespace

void WriteMerged(MergeState& state, TextFiles& files) {
    OpenedHere opened(files);
    const int outNo = opened.Output(state.outFile);

    // Lines are looked at in place; lineBuf gets the last one of each pass.
    std::string_view line;
    state.bottomFileNo = opened.Input(state.bottomFile);
    if (!files.Eof(state.bottomFileNo)) {
        while (!files.Eof(state.bottomFileNo)) {
            line = files.LineInput(state.bottomFileNo);
            if (DroppedFromBottom(line)) continue;
            if (kBoundingBox.In(line)) line = kA4BoundingBox;
            files.PrintLine(outNo, line);
        }
        state.lineBuf = line;
    }
    opened.Close(state.bottomFileNo);

    files.PrintLine(outNo, kInsertComment);
    files.PrintLine(outNo, kShiftComment);
    files.PrintLine(outNo, kShiftUp);

    state.topFileNo = opened.Input(state.topFile);
    if (!files.Eof(state.topFileNo)) {
        while (!files.Eof(state.topFileNo)) {
            line = files.LineInput(state.topFileNo);
            if (!DroppedFromTop(line)) files.PrintLine(outNo, line);
        }
        state.lineBuf = line;
    }
    opened.Close(state.topFileNo);
    opened.Close(outNo);
}

}  // namespace psmerge
