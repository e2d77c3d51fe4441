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

void cmdMerge_Click(FormContext& form, const PdfWriter& writePdf) {
    MergeState& state = form.state;
    if (state.topOK == 0 || state.bottomOK == 0) {
        form.desktop.MsgBox(kInputsNotCorrect, kMbSystemModal);
        return;
    }
    state.defaultName = ProposedName(state.topFile, form);

    SaveDialog dialog;
    dialog.title = "Korvalith PS file";
    dialog.filter = "Postscript (*.PS)|*.PS";
    if (writePdf) dialog.filter += "|PDF (*.pdf)|*.pdf";
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
    if (writePdf && NamesPdf(state.outFile)) {
        if (!writePdf(form, state.outFile, ifExists)) return;
        form.captions.SetCaption(Label::lblBottom, "BOTTOM");
        form.captions.SetCaption(Label::lblTop, "TOP");
        return;
    }
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
