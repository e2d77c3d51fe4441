#include "input/input_check.h"

#include <string_view>

#include "input/path_helpers.h"
#include "platform/runtime_error.h"
#include "platform/text_files.h"
#include "platform/text_search.h"

namespace a5merge {

namespace {

const Needle kHeaderNeedle(kHeaderToken);
const Needle kCreatorNeedle(kCreatorToken);
const Needle kIdentifierNeedle(kIdentifierToken);
const Needle kMarkerNeedle(kMarkerToken);
const Needle kMergedNeedle(kMergedToken);

// Reads the file and returns whether its header passed; sets the two scan flags.
bool Scan(MergeState& state, TextFiles& files, const std::string& path) {
    const int no = state.checkFileNo = files.FreeFile();
    files.OpenInput(no, path);
    state.TEXT723DUMMY = 0;
    state.foutefile = 0;
    state.dubbel = 0;

    // Lines 1 and 2 are searched as they stream by, whatever their length.
    StreamSearch header(kHeaderNeedle);
    files.StreamLine(no, [&header](std::string_view piece) { header.Feed(piece); });
    if (!header.found()) return false;
    StreamSearch creator(kCreatorNeedle);
    StreamSearch identifier(kIdentifierNeedle);
    files.StreamLine(no, [&](std::string_view piece) {
        creator.Feed(piece);
        identifier.Feed(piece);
    });
    if (!creator.found() || !identifier.found()) return false;

    // The tokens hold no CR, so a line from line 3 on holds one exactly when
    // the bytes after line 2 do: they are searched as they come.
    StreamSearch marker(kMarkerNeedle);
    StreamSearch merged(kMergedNeedle);
    for (std::string_view block = files.InputBlock(no); !block.empty();
         block = files.InputBlock(no)) {
        marker.Feed(block);
        merged.Feed(block);
    }
    state.TEXT723DUMMY = marker.found() ? 1 : 0;
    state.dubbel = merged.found() ? 1 : 0;
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

}  // namespace a5merge
