// The merged page writer against the reference rules.

#include <string>

#include "fuzz/fuzz_support.h"
#include "merge/writer.h"
#include "platform/text_files.h"

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
    return 0;
}
