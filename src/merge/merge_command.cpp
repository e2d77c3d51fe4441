#include "merge/merge_command.h"

#include "input/path_helpers.h"
#include "merge/sheet.h"
#include "platform/desktop.h"
#include "platform/file_system.h"
#include "state/captions.h"

namespace a5merge {

std::string ProposedName(const std::string& topFile, FormContext& form, const char* ending) {
    form.state.workDir = PathOnly(topFile);
    NameOnly(topFile, form.state, form.desktop);  // for its guard: a short path ends the program
    return CombiNameFor(topFile, ending);
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
    if (MayHaveLostBytes(state.outFile)) {
        form.desktop.MsgBox("Could not save " + state.outFile + state.lineBreak + kNameNotCarried,
                            kMbSystemModal);
        return;
    }

    // The dialog asked before replacing a file; a name that was free then
    // must still be free when the sheet takes it.
    const IfExists ifExists = NamesSomething(state.outFile) ? IfExists::Replace : IfExists::Fail;
    // The window never waits for a FIFO's reader: FIFOs and devices are refused.
    SheetJob job{state.topFile, state.bottomFile, state.outFile, ifExists};
    job.special = SpecialFiles::Refuse;
    const SheetResult result = WriteSheet(state, form.files, job);
    if (result.error) {
        form.desktop.MsgBox(SaveFailedText(state.outFile, *result.error, state.lineBreak),
                            kMbSystemModal);
        return;
    }
    form.desktop.MsgBox(kAllLooksOk, kMbSystemModal, kOkTitle);
    form.captions.SetCaption(Label::lblBottom, "BOTTOM");
    form.captions.SetCaption(Label::lblTop, "TOP");
}

}  // namespace a5merge
