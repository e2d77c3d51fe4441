#include "merge_command.h"

#include "desktop.h"
#include "path_helpers.h"
#include "runtime_error.h"
#include "writer.h"

namespace a5merge {

std::string ProposedName(const std::string& topFile, FormContext& form) {
    form.state.workDir = PathOnly(topFile);
    return form.state.workDir + PlatformSeparator() + NameOnly(topFile, form.state, form.desktop) +
           "_Combi" + ".PS";
}

std::string SaveFailedText(const std::string& outFile, const RuntimeError& error,
                           const std::string& lineBreak) {
    const std::string cause =
        error.path() == outFile ? error.reason() : error.path() + ": " + error.reason();
    return "Could not save " + outFile + lineBreak + cause;
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

    try {
        WriteMerged(state, form.files);
    } catch (const RuntimeError& error) {
        form.desktop.MsgBox(SaveFailedText(state.outFile, error, state.lineBreak), kMbSystemModal);
        return;
    }
    form.desktop.MsgBox(kAllLooksOk, kMbSystemModal, kOkTitle);
    form.captions.SetCaption(Label::lblBottom, "BOTTOM");
    form.captions.SetCaption(Label::lblTop, "TOP");
}

}  // namespace a5merge
