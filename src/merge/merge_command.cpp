#include "merge/merge_command.h"

#include "input/path_helpers.h"
#include "merge/sheet.h"
#include "platform/desktop.h"
#include "state/captions.h"

namespace a5merge {

std::string ProposedName(const std::string& topFile, FormContext& form) {
    form.state.workDir = PathOnly(topFile);
    return form.state.workDir + PlatformSeparator() + NameOnly(topFile, form.state, form.desktop) +
           kCombiEnding;
}

void cmdMerge_Click(FormContext& form) {
    MergeState& state = form.state;
    if (state.topOK == 0 || state.bottomOK == 0) {
        form.desktop.MsgBox(kInputsNotCorrect, kMbSystemModal);
        return;
    }
    state.defaultName = ProposedName(state.topFile, form);

    SaveDialog dialog;
    dialog.title = "Korvalith PS file";
    dialog.filter = "Postscript (*.PS)|*.PS";
    dialog.defaultExt = "PS";
    dialog.initDir = state.workDir;
    dialog.fileName = state.defaultName;
    dialog.flags = SaveDialog::kOverwritePrompt;
    const std::optional<std::string> chosen = form.desktop.SaveAs(dialog);
    if (!chosen) return;
    state.outFile = *chosen;

    const SheetJob job{state.topFile, state.bottomFile, state.outFile};
    if (const auto failure = WriteSheet(state, form.files, job)) {
        form.desktop.MsgBox(SaveFailedText(state.outFile, *failure, state.lineBreak),
                            kMbSystemModal);
        return;
    }
    form.desktop.MsgBox(kAllLooksOk, kMbSystemModal, kOkTitle);
    form.captions.SetCaption(Label::lblBottom, "BOTTOM");
    form.captions.SetCaption(Label::lblTop, "TOP");
}

}  // namespace a5merge
