#include "input/input_check.h"

#include <cerrno>
#include <initializer_list>
#include <string_view>

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
    fed_ = fed_ || !bytes.empty();
    std::size_t fed = 0;
    while (line_ < 3 && !headerFailed_ && fed < bytes.size()) {
        const std::string_view rest = bytes.substr(fed);
        const std::size_t cr = rest.find('\r');
        const std::string_view piece = rest.substr(0, cr);
        if (line_ == 1) {
            header_.Feed(piece);
            lfInLine1_ = lfInLine1_ || piece.find('\n') != std::string_view::npos;
        } else {
            // The LF of line 1's CR LF is no part of line 2.
            line2Started_ = line2Started_ || piece.size() > (afterCr_ && piece.front() == '\n');
            creator_.Feed(piece);
            identifier_.Feed(piece);
        }
        afterCr_ = false;
        if (cr == std::string_view::npos) return bytes.size();
        EndHeaderLine();
        afterCr_ = line_ == 2;
        fed += cr + 1;
    }
    return fed;
}

void InputCheck::EndHeaderLine() {
    const bool passed = line_ == 1 ? header_.found() : creator_.found() && identifier_.found();
    headerFailed_ = !passed;
    ++line_;
}

CheckFault InputCheck::Fault() const {
    if (!fed_) return CheckFault::Empty;
    if (line_ == 1 && !header_.found()) return CheckFault::NoHeader;
    if (line_ == 2 && headerFailed_) return CheckFault::NoHeader;
    const CheckFlags flags = Finish();
    if (flags.foutefile != 0) {
        // Line 1 passed; line 2 failed, or there is none. An LF in line 1
        // says why: the lines end with LF alone.
        if (lfInLine1_) return CheckFault::LfOnly;
        if (line_ == 1 || (line_ == 2 && !line2Started_)) return CheckFault::NoSecondLine;
        return creator_.found() ? CheckFault::NoIdentifier : CheckFault::NoCreator;
    }
    if (flags.TEXT723DUMMY == 0) return CheckFault::NoMarker;
    if (flags.dubbel != 0) return CheckFault::Merged;
    return CheckFault::None;
}

namespace {

std::string Joined(std::initializer_list<std::string_view> parts) {
    std::string text;
    for (const std::string_view part : parts) text.append(part);
    return text;
}

}  // namespace

std::string DetailText(const CheckDetail& detail) {
    switch (detail.fault) {
        case CheckFault::None:
            return {};
        case CheckFault::NotFound:
            return "not found";
        case CheckFault::NotRegular:
            return "not a regular file";
        case CheckFault::Hidden:
            return Joined({"hidden: ", kHiddenBecause});
        case CheckFault::System:
            return "a file of the system: its System attribute is set";
        case CheckFault::Unreadable:
            return Joined({"cannot be read: ", detail.systemReason});
        case CheckFault::Empty:
            return "it is empty";
        case CheckFault::LfOnly:
            return "its lines end with LF only; convert it with unix2dos (package dos2unix)";
        case CheckFault::NoHeader:
            return Joined({"line 1 is not a PostScript header (", kHeaderToken, ")"});
        case CheckFault::NoSecondLine:
            return "it has no line 2";
        case CheckFault::NoCreator:
            return Joined({"line 2 lacks the creator ", kCreatorToken});
        case CheckFault::NoIdentifier:
            return Joined({"line 2 lacks the identifier ", kIdentifierToken});
        case CheckFault::NoMarker:
            return Joined({"no line from line 3 on holds the marker ", kMarkerToken});
        case CheckFault::Merged:
            return Joined({"it is a merged sheet already (a line from line 3 on holds \"",
                           kMergedToken, "\")"});
    }
    return {};
}

CheckDetail WhyNotOrdinary(const std::string& path) {
    int attributes = 0;
    try {
        attributes = GetAttr(path);
    } catch (const RuntimeError& error) {
        if (IsMissing(error.systemError())) return {CheckFault::NotFound, {}};
        if (error.systemError() == ENODEV) return {CheckFault::NotRegular, {}};
        return {CheckFault::Unreadable, error.reason()};
    }
    if (attributes & kAttrSystem) return {CheckFault::System, {}};
    if (attributes & kAttrHidden) return {CheckFault::Hidden, {}};
    if (!IsRegularFile(path)) return {CheckFault::NotRegular, {}};
    return {CheckFault::NotFound, {}};  // gone since it was looked for
}

CheckFlags InputCheck::Finish() const {
    // Line 2 may end with the file; a file that ends within line 1 has none.
    const bool header =
        !headerFailed_ && (line_ == 3 || (line_ == 2 && creator_.found() && identifier_.found()));
    if (!header) return kUnreadable;
    return {static_cast<std::int16_t>(markerFound_ || marker_.found()),
            static_cast<std::int16_t>(mergedFound_ || merged_.found()), 0};
}

void Test(MergeState& state, TextFiles& files, const std::string& PSbestand, CheckDetail* detail) {
    CheckFlags flags = kUnreadable;
    CheckDetail why;
    if (!FileExists(PSbestand)) {
        if (detail != nullptr) why = WhyNotOrdinary(PSbestand);
    } else {
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
            why.fault = check.Fault();
        } catch (const RuntimeError& error) {
            if (IsShortage(error.systemError())) {  // no verdict on the file: said as it is
                files.CloseAll();
                throw;
            }
            flags = kUnreadable;
            why = {CheckFault::Unreadable, error.reason()};
        }
    }
    Record(flags, state);
    files.CloseAll();
    if (detail != nullptr) *detail = why;
}

}  // namespace a5merge
