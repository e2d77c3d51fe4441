#include "writer.h"

#include "text_files.h"

namespace psmerge {

namespace {

bool Contains(std::string_view line, std::string_view token) {
    return line.find(token) != std::string_view::npos;
}

bool DroppedFromBottom(std::string_view line) {
    return line.find('\x04') != std::string_view::npos || Contains(line, "showpage");
}

bool DroppedFromTop(std::string_view line) {
    return Contains(line, "dup mul exch") || Contains(line, "statusdict");
}

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

    state.bottomFileNo = opened.Input(state.bottomFile);
    while (!files.Eof(state.bottomFileNo)) {
        files.LineInput(state.bottomFileNo, state.lineBuf);
        if (DroppedFromBottom(state.lineBuf)) continue;
        if (Contains(state.lineBuf, "%%BoundingBox")) state.lineBuf = kA4BoundingBox;
        files.PrintLine(outNo, state.lineBuf);
    }
    opened.Close(state.bottomFileNo);

    files.PrintLine(outNo, kInsertComment);
    files.PrintLine(outNo, kShiftComment);
    files.PrintLine(outNo, kShiftUp);

    state.topFileNo = opened.Input(state.topFile);
    while (!files.Eof(state.topFileNo)) {
        files.LineInput(state.topFileNo, state.lineBuf);
        if (!DroppedFromTop(state.lineBuf)) files.PrintLine(outNo, state.lineBuf);
    }
    opened.Close(state.topFileNo);
    opened.Close(outNo);
}

}  // namespace psmerge
