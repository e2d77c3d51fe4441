// The input check against the reference rules.

#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "input/input_check.h"
#include "platform/text_files.h"

using namespace a5merge;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string_view content(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string path = fuzz::WriteScratch("check.ps", content);
    TextFiles files(fuzz::BufferSize(data[0]));
    MergeState state;
    Test(state, files, path);

    const std::vector<std::string> lines = fuzz::SplitLines(content);
    const bool header = lines.size() >= 2 && fuzz::Holds(lines[0], kHeaderToken) &&
                        fuzz::Holds(lines[1], kCreatorToken) &&
                        fuzz::Holds(lines[1], kIdentifierToken);
    bool marker = false;
    bool merged = false;
    for (std::size_t i = 2; header && i < lines.size(); ++i) {
        marker = marker || fuzz::Holds(lines[i], kMarkerToken);
        merged = merged || fuzz::Holds(lines[i], kMergedToken);
    }
    FUZZ_CHECK(state.foutefile == (header ? 0 : 1));
    FUZZ_CHECK(state.TEXT723DUMMY == (marker ? 1 : 0));
    FUZZ_CHECK(state.dubbel == (merged ? 1 : 0));
    for (int no = 1; no <= TextFiles::kMaxFileNo; ++no) FUZZ_CHECK(!files.IsOpen(no));
    return 0;
}
