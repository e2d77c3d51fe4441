#include "input/drop_zones.h"

#include <algorithm>
#include <cctype>

#include "input/input_check.h"
#include "input/path_helpers.h"
#include "platform/desktop.h"
#include "platform/file_system.h"
#include "platform/runtime_error.h"
#include "state/captions.h"

namespace a5merge {

namespace {

struct ZoneTable {
    std::string MergeState::*file;
    std::int16_t MergeState::*accepted;
    Label label;
    const char* acceptedCaption;
    const char* name;  // starts the zone's own messages
};

const ZoneTable& Table(Zone zone) {
    static const ZoneTable top{&MergeState::topFile, &MergeState::topOK, Label::lblTop, "OK",
                               "TOP.PS"};
    static const ZoneTable bottom{&MergeState::bottomFile, &MergeState::bottomOK, Label::lblBottom,
                                  "    OK", "BOTTOM.PS"};
    return zone == Zone::Top ? top : bottom;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

DropVerdict JudgeDrop(const std::vector<std::string>& paths, MergeState& state, TextFiles& files) {
    if (paths.empty()) return DropVerdict::NothingDropped;
    if (paths.size() > 1) return DropVerdict::TooMany;
    const std::string& path = paths.front();

    int attributes = 0;
    try {
        attributes = GetAttr(path);
    } catch (const RuntimeError&) {
        return DropVerdict::CheckFailed;  // gone before it could be looked at
    }
    if (attributes & kAttrDirectory) return DropVerdict::Folder;
    if (Lower(ExtOnly(path, 0)) != "ps") return DropVerdict::NotPostScript;
    if (TooShortForNameOnly(path)) return DropVerdict::ShortPath;

    Test(state, files, path);
    if (state.TEXT723DUMMY != 1 || state.foutefile != 0) return DropVerdict::CheckFailed;
    if (state.dubbel == 1) return DropVerdict::ProcessedBefore;
    return DropVerdict::Accepted;
}

std::string RefusalReason(DropVerdict verdict) {
    switch (verdict) {
        case DropVerdict::TooMany:
            return kOnlyOneAtATime;
        case DropVerdict::Folder:
            return kOnlyFiles;
        case DropVerdict::NotPostScript:
            return kOnlyPsFiles;
        case DropVerdict::ShortPath:
            return kInvalidProcessing;
        case DropVerdict::CheckFailed:
            return "file check NOT OK";
        case DropVerdict::ProcessedBefore:
            return "processed before";
        case DropVerdict::NothingDropped:
        case DropVerdict::Accepted:
            break;
    }
    return {};
}

std::string RefusalText(Zone zone, DropVerdict verdict) {
    switch (verdict) {
        case DropVerdict::CheckFailed:
        case DropVerdict::ProcessedBefore:
            return std::string(Table(zone).name) + " " + RefusalReason(verdict);
        case DropVerdict::ShortPath:  // its own message, with the end of the program
            return {};
        default:
            return RefusalReason(verdict);
    }
}

std::string_view AcceptedCaption(Zone zone) { return Table(zone).acceptedCaption; }

void DropOnZone(Zone zone, const std::vector<std::string>& paths, FormContext& form) {
    const ZoneTable& table = Table(zone);
    switch (const DropVerdict verdict = JudgeDrop(paths, form.state, form.files)) {
        case DropVerdict::NothingDropped:
            return;
        case DropVerdict::ShortPath:
            StopForShortPath(form.state, form.desktop);
        case DropVerdict::Accepted:
            form.state.*table.file = paths.front();
            form.state.*table.accepted = 1;
            form.captions.SetCaption(table.label, table.acceptedCaption);
            return;
        default:
            form.desktop.MsgBox(RefusalText(zone, verdict), kMbSystemModal);
            return;
    }
}

}  // namespace a5merge
