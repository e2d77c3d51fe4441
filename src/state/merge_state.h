#pragma once

#include <cstdint>
#include <string>

namespace a5merge {

// 0 in a file-number field: no number held.
inline constexpr int kNoFile = 0;

// Everything the window knows between user actions. The drop zones fill it,
// the input check marks it, MERGE + SAVE reads it. Flags hold 0 or 1.
struct MergeState {
    std::string lineBreak;    // CR LF once started
    std::string topFile;      // file accepted on TOP
    std::string bottomFile;   // file accepted on BOTTOM
    std::string outFile;      // path chosen in the save dialog
    std::string workDir;      // folder of topFile, start folder of the dialog
    std::string lineBuf;      // last line the writer read (when it fit its buffer)
    std::string defaultName;  // proposed output path
    std::int16_t topOK = 0;
    std::int16_t bottomOK = 0;
    int checkFileNo = kNoFile;      // number of the file under the input check
    int bottomFileNo = kNoFile;     // number of bottomFile in the writer
    int topFileNo = kNoFile;        // number of topFile in the writer
    std::int16_t TEXT723DUMMY = 0;  // marker line found from line 3 on
    std::int16_t dubbel = 0;        // already-merged marker found from line 3 on
    std::int16_t foutefile = 0;     // header test failed
};

}  // namespace a5merge
