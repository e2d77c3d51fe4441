// The merged page writer against the reference rules, by both search paths;
// and, checking as it writes, against the input check run on its own.

#include <cstdio>
#include <optional>
#include <string>

#include "fuzz/fuzz_support.h"
#include "input/drop_zones.h"
#include "input/input_check.h"
#include "merge/writer.h"
#include "platform/text_files.h"
#include "platform/text_search.h"

using namespace a5merge;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 3, size - 3);
    const std::size_t split = rest.empty() ? 0 : ((data[1] << 8) | data[2]) % (rest.size() + 1);
    const std::string_view bottom = rest.substr(0, split);
    const std::string_view top = rest.substr(split);

    MergeState state;
    state.bottomFile = fuzz::WriteScratch("bottom.ps", bottom);
    state.topFile = fuzz::WriteScratch("top.ps", top);
    state.outFile = fuzz::ScratchPath("out.PS");
    SetSearchPath(static_cast<SearchPath>(data[1] % 3));
    TextFiles files(fuzz::BufferSize(data[0]));
    WriteMerged(state, files);

    std::string expected;
    for (std::string line : fuzz::SplitLines(bottom)) {
        if (fuzz::Holds(line, "\x04") || fuzz::Holds(line, "showpage")) continue;
        if (fuzz::Holds(line, "%%BoundingBox")) line = kA4BoundingBox;
        expected += line + "\r\n";
    }
    for (std::string_view fixed : {kInsertComment, kShiftComment, kShiftUp}) {
        expected.append(fixed).append("\r\n");
    }
    for (const std::string& line : fuzz::SplitLines(top)) {
        if (fuzz::Holds(line, "dup mul exch") || fuzz::Holds(line, "statusdict")) continue;
        expected += line + "\r\n";
    }
    FUZZ_CHECK(fuzz::ReadScratch(state.outFile) == expected);
    for (int no = 1; no <= TextFiles::kMaxFileNo; ++no) FUZZ_CHECK(!files.IsOpen(no));

    // Checked as it is written: the same flags as the check alone, and the
    // same sheet only when both inputs pass.
    MergeState alone;
    Test(alone, files, state.bottomFile);
    const CheckFlags bottomFlags{alone.TEXT723DUMMY, alone.dubbel, alone.foutefile};
    Test(alone, files, state.topFile);
    const CheckFlags topFlags{alone.TEXT723DUMMY, alone.dubbel, alone.foutefile};
    std::remove(state.outFile.c_str());
    ReadChecks checks;
    WriteMerged(state, files, IfExists::Fail, &checks);
    FUZZ_CHECK(checks.bottom == bottomFlags);
    const bool bottomPasses = VerdictOf(bottomFlags) == DropVerdict::Accepted;
    FUZZ_CHECK(checks.top == (bottomPasses ? std::optional(topFlags) : std::nullopt));
    const bool written = bottomPasses && VerdictOf(topFlags) == DropVerdict::Accepted;
    FUZZ_CHECK(written ? fuzz::ReadScratch(state.outFile) == expected
                       : ::access(state.outFile.c_str(), F_OK) != 0);
    std::remove(state.outFile.c_str());
    return 0;
}
