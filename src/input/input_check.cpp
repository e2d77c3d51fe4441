#include "input_check.h"

#include <string_view>

#include "path_helpers.h"
#include "runtime_error.h"
#include "text_files.h"

namespace psmerge {

namespace {

bool Contains(std::string_view line, std::string_view token) {
    return line.find(token) != std::string_view::npos;
}

// Reads the file and returns whether its header passed; sets the two scan flags.
bool Scan(MergeState& state, TextFiles& files, const std::string& path) {
    const int no = state.checkFileNo = files.FreeFile();
    files.OpenInput(no, path);
    state.TEXT723DUMMY = 0;
    state.foutefile = 0;
    state.dubbel = 0;

    files.LineInput(no, state.lineBuf);
    if (!Contains(state.lineBuf, kHeaderToken)) return false;
    files.LineInput(no, state.lineBuf);
    if (!Contains(state.lineBuf, kCreatorToken) || !Contains(state.lineBuf, kIdentifierToken)) {
        return false;
    }

    // Lines are looked at in place; lineBuf gets the last one.
    if (files.Eof(no)) return true;
    std::string_view line;
    while (!files.Eof(no)) {
        line = files.LineInput(no);
        if (Contains(line, kMarkerToken)) state.TEXT723DUMMY = 1;
        if (Contains(line, kMergedToken)) state.dubbel = 1;
    }
    state.lineBuf = line;
    return true;
}

}  // namespace

void Test(MergeState& state, TextFiles& files, const std::string& PSbestand) {
    bool headerOk = false;
    if (FileExists(PSbestand)) {
        try {
            headerOk = Scan(state, files, PSbestand);
        } catch (const RuntimeError&) {
            headerOk = false;
        }
    }
    if (!headerOk) {
        state.TEXT723DUMMY = 0;
        state.dubbel = 0;
        state.foutefile = 1;
    }
    files.CloseAll();
}

}  // namespace psmerge
