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

std::optional<DropVerdict> JudgeBeforeReading(const std::vector<std::string>& paths,
                                              MergeState& state, CheckDetail* detail) {
    if (paths.empty()) return DropVerdict::NothingDropped;
    if (paths.size() > 1) return DropVerdict::TooMany;
    const std::string& path = paths.front();

    int attributes = 0;
    try {
        attributes = GetAttr(path);
    } catch (const RuntimeError&) {
        Record(kUnreadable, state);  // what the check says of a file it cannot find
        if (detail != nullptr) *detail = WhyNotOrdinary(path);
        return DropVerdict::CheckFailed;
    }
    if (attributes & kAttrDirectory) return DropVerdict::Folder;
    if (Lower(ExtOnly(path, 0)) != "ps") return DropVerdict::NotPostScript;
    if (TooShortForNameOnly(path)) return DropVerdict::ShortPath;
    return std::nullopt;
}

DropVerdict VerdictOf(const CheckFlags& flags) {
    if (flags.TEXT723DUMMY != 1 || flags.foutefile != 0) return DropVerdict::CheckFailed;
    if (flags.dubbel == 1) return DropVerdict::ProcessedBefore;
    return DropVerdict::Accepted;
}

DropVerdict JudgeDrop(const std::vector<std::string>& paths, MergeState& state, TextFiles& files,
                      CheckDetail* detail) {
    if (const auto refused = JudgeBeforeReading(paths, state, detail)) return *refused;
    Test(state, files, paths.front(), detail);
    return VerdictOf({state.TEXT723DUMMY, state.dubbel, state.foutefile});
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

std::string WithDetail(const std::string& text, const CheckDetail& detail) {
    const std::string why = DetailText(detail);
    return why.empty() ? text : text + ": " + why;
}

DropVerdict DropOnZone(Zone zone, const std::vector<std::string>& paths, FormContext& form,
                       CheckDetail* detail) {
    const ZoneTable& table = Table(zone);
    const DropVerdict verdict = JudgeDrop(paths, form.state, form.files, detail);
    switch (verdict) {
        case DropVerdict::NothingDropped:
            break;
        case DropVerdict::ShortPath:
            StopForShortPath(form.state, form.desktop);
        case DropVerdict::Accepted:
            form.state.*table.file = paths.front();
            form.state.*table.accepted = 1;
            form.captions.SetCaption(table.label, table.acceptedCaption);
            break;
        default:
            form.desktop.MsgBox(RefusalText(zone, verdict), kMbSystemModal);
            break;
    }
    return verdict;
}

DropVerdict ChooseForZone(Zone zone, FormContext& form, const std::string& startFolder,
                          CheckDetail* detail, std::string* chosenPath) {
    const OpenDialog dialog{zone == Zone::Top ? "TOP file" : "BOTTOM file",
                            "Postscript files (*.ps)|*.ps|All files (*)|*", startFolder};
    const std::optional<std::string> chosen = form.desktop.OpenFile(dialog);
    if (!chosen) return DropVerdict::NothingDropped;
    if (chosenPath != nullptr) *chosenPath = *chosen;
    if (MayHaveLostBytes(*chosen)) {
        form.desktop.MsgBox(*chosen + form.state.lineBreak + kNameNotCarried, kMbSystemModal);
        return DropVerdict::CheckFailed;
    }
    return DropOnZone(zone, {*chosen}, form, detail);
}

}  // namespace a5merge
