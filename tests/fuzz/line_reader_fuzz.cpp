// The line reader against the reference split, by every way of reading.

#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/text_files.h"

using namespace a5merge;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string_view content(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string path = fuzz::WriteScratch("lines", content);
    const std::vector<std::string> expected = fuzz::SplitLines(content);
    TextFiles files(fuzz::BufferSize(data[0]));

    // One line at a time.
    files.OpenInput(1, path);
    std::vector<std::string> lines;
    std::string line;
    while (!files.Eof(1)) {
        files.LineInput(1, line);
        lines.push_back(line);
    }
    files.Close(1);
    FUZZ_CHECK(lines == expected);

    // Blocks of whole lines, and streamed long lines.
    files.OpenInput(1, path);
    std::string joined;
    for (;;) {
        bool longLine = false;
        const std::string_view block = files.InputLines(1, longLine);
        if (longLine) {
            if (files.StreamLine(1, [&](std::string_view piece) { joined.append(piece); })) {
                joined.append("\r\n");
            }
            continue;
        }
        if (block.empty()) break;
        joined.append(block);
    }
    files.Close(1);
    FUZZ_CHECK(fuzz::SplitLines(joined) == expected);

    // Raw blocks give the bytes back.
    files.OpenInput(1, path);
    std::string raw;
    for (auto block = files.InputBlock(1); !block.empty(); block = files.InputBlock(1)) {
        raw.append(block);
    }
    files.Close(1);
    FUZZ_CHECK(raw == content);
    return 0;
}
