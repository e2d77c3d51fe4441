#include "input/input_check.h"

#include "input/path_helpers.h"
#include "platform/runtime_error.h"
#include "platform/text_files.h"

namespace a5merge {

namespace {

const Needle kHeaderNeedle(kHeaderToken);
const Needle kCreatorNeedle(kCreatorToken);
const Needle kIdentifierNeedle(kIdentifierToken);
const Needle kMarkerNeedle(kMarkerToken);
const Needle kMergedNeedle(kMergedToken);

}  // namespace

void Record(const CheckFlags& flags, MergeState& state) {
    state.TEXT723DUMMY = flags.TEXT723DUMMY;
    state.dubbel = flags.dubbel;
    state.foutefile = flags.foutefile;
}

InputCheck::InputCheck()
    : header_(kHeaderNeedle),
      creator_(kCreatorNeedle),
      identifier_(kIdentifierNeedle),
      marker_(kMarkerNeedle),
      merged_(kMergedNeedle) {}

// The tokens hold no CR and no LF. So the header lines need only their CRs
// found (an LF after one is searched with the next line and can match
// nothing), and from line 3 on the bytes are searched as they come.
void InputCheck::Feed(std::string_view bytes) {
    bytes.remove_prefix(FeedHeader(bytes));
    if (line_ == 3 && !headerFailed_) {
        marker_.Feed(bytes);
        merged_.Feed(bytes);
    }
}

std::size_t InputCheck::FeedHeader(std::string_view bytes) {
    std::size_t fed = 0;
    while (line_ < 3 && !headerFailed_ && fed < bytes.size()) {
        const std::string_view rest = bytes.substr(fed);
        const std::size_t cr = rest.find('\r');
        const std::string_view piece = rest.substr(0, cr);
        if (line_ == 1) {
            header_.Feed(piece);
        } else {
            creator_.Feed(piece);
            identifier_.Feed(piece);
        }
        if (cr == std::string_view::npos) return bytes.size();
        EndHeaderLine();
        fed += cr + 1;
    }
    return fed;
}

void InputCheck::EndHeaderLine() {
    const bool passed = line_ == 1 ? header_.found() : creator_.found() && identifier_.found();
    headerFailed_ = !passed;
    ++line_;
}

CheckFlags InputCheck::Finish() const {
    // Line 2 may end with the file; a file that ends within line 1 has none.
    const bool header =
        !headerFailed_ && (line_ == 3 || (line_ == 2 && creator_.found() && identifier_.found()));
    if (!header) return kUnreadable;
    return {static_cast<std::int16_t>(markerFound_ || marker_.found()),
            static_cast<std::int16_t>(mergedFound_ || merged_.found()), 0};
}

void Test(MergeState& state, TextFiles& files, const std::string& PSbestand) {
    CheckFlags flags = kUnreadable;
    if (FileExists(PSbestand)) {
        try {
            const int no = state.checkFileNo = files.FreeFile();
            files.OpenInput(no, PSbestand);
            Record({}, state);
            InputCheck check;
            for (std::string_view block = files.InputBlock(no);
                 !block.empty() && !check.HeaderFailed(); block = files.InputBlock(no)) {
                check.Feed(block);
            }
            flags = check.Finish();
        } catch (const RuntimeError& error) {
            if (IsShortage(error.systemError())) {  // no verdict on the file: said as it is
                files.CloseAll();
                throw;
            }
            flags = kUnreadable;
        }
    }
    Record(flags, state);
    files.CloseAll();
}

}  // namespace a5merge
