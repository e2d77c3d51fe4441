#include "ghostscript/sheet_commands.h"

#include <cerrno>
#include <optional>

#include "ghostscript/sheet_output.h"
#include "input/path_helpers.h"
#include "merge/merge_command.h"
#include "merge/sheet.h"
#include "platform/desktop.h"
#include "platform/file_system.h"
#include "platform/print_spooler.h"

namespace a5merge {

namespace {

bool BothAccepted(FormContext& form) {
    if (form.state.topOK != 0 && form.state.bottomOK != 0) return true;
    form.desktop.MsgBox(kInputsNotCorrect, kMbSystemModal);
    return false;
}

bool GhostscriptThere(FormContext& form, const Ghostscript& ghostscript) {
    if (ghostscript.Found()) return true;
    form.desktop.MsgBox(kGhostscriptMissing, kMbSystemModal);
    return false;
}

}  // namespace

bool WriteSheetPdf(FormContext& form, const Ghostscript& ghostscript, const std::string& output,
                   IfExists ifExists) {
    if (!GhostscriptThere(form, ghostscript)) return false;
    MergeState& state = form.state;
    SheetWritten written;
    // As MERGE + SAVE, FIFOs and devices are refused: the window never waits.
    SheetJob job{state.topFile, state.bottomFile, output, ifExists, false};
    job.special = SpecialFiles::Refuse;
    form.desktop.WhileBusy(kMakingThePdf, [&](const std::atomic<bool>& cancel) {
        written =
            WriteSheetAs(state, form.files, job, SheetFormat::Pdf, false, ghostscript, &cancel);
    });
    if (const auto& error = written.sheet.error) {
        if (error->systemError() != ECANCELED) {
            form.desktop.MsgBox(SaveFailedText(output, *error, state.lineBreak), kMbSystemModal);
        }
        return false;
    }
    form.desktop.MsgBox(kAllLooksOk, kMbSystemModal, kOkTitle);
    return true;
}

std::string SentTo(const std::string& printer) { return "Sent to " + printer; }

std::string JobTitle(const std::string& name) {
    if (name.size() <= kMaxJobTitle) return name;
    std::size_t cut = kMaxJobTitle;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    return name.substr(0, cut);
}

void SaveSheetAsPdf(FormContext& form, const Ghostscript& ghostscript) {
    if (!BothAccepted(form) || !GhostscriptThere(form, ghostscript)) return;
    MergeState& state = form.state;
    SaveDialog dialog;
    dialog.title = "Save the sheet as PDF";
    dialog.filter = "PDF (*.pdf)|*.pdf";
    dialog.defaultExt = "pdf";
    dialog.fileName = ProposedName(state.topFile, form, kPdfCombiEnding);
    dialog.initDir = state.workDir;
    dialog.flags = SaveDialog::kOverwritePrompt;
    const std::optional<std::string> chosen = form.desktop.SaveAs(dialog);
    if (!chosen) return;
    if (MayHaveLostBytes(*chosen)) {
        form.desktop.MsgBox("Could not save " + *chosen + state.lineBreak + kNameNotCarried,
                            kMbSystemModal);
        return;
    }
    // As MERGE + SAVE: a name that was free when the dialog closed must
    // still be free when the PDF takes it.
    WriteSheetPdf(form, ghostscript, *chosen,
                  NamesSomething(*chosen) ? IfExists::Replace : IfExists::Fail);
}

void PrintSheet(FormContext& form, const Ghostscript& ghostscript, PrintSpooler& spooler) {
    if (!BothAccepted(form) || !GhostscriptThere(form, ghostscript)) return;
    MergeState& state = form.state;
    if (spooler.Printers().empty()) {
        form.desktop.MsgBox(kNoPrinter, kMbSystemModal);
        return;
    }
    const std::optional<PrintChoice> choice = form.desktop.ChoosePrinter("Print the sheet");
    if (!choice) return;
    if (!choice->file.empty()) {  // the dialog asked before replacing it
        WriteSheetPdf(form, ghostscript, choice->file, IfExists::Replace);
        return;
    }

    // The PDF, made where only this run sees it, then handed to CUPS.
    const std::string title = JobTitle(FileOnly(CombiNameFor(state.topFile, kPdfCombiEnding)));
    const std::string failed = "Could not print on " + choice->printer + state.lineBreak;
    std::optional<RuntimeError> error;
    std::string internal;  // our own folder, never named to the user
    PrintJob job;
    form.desktop.WhileBusy(kMakingThePdf, [&](const std::atomic<bool>& cancel) {
        try {
            PrivateFolder work;
            internal = work.path();
            const std::string pdf = work.Path("sheet.pdf");
            const SheetWritten written = WriteSheetAs(
                state, form.files, {state.topFile, state.bottomFile, pdf, IfExists::Fail, false},
                SheetFormat::Pdf, false, ghostscript, &cancel);
            if (written.sheet.error) throw *written.sheet.error;
            job = spooler.Send(choice->printer, pdf, title, choice->options);
        } catch (const RuntimeError& e) {
            error = e;
        }
    });
    if (error) {
        if (error->systemError() == ECANCELED) return;
        const bool ours = !internal.empty() && error->path().rfind(internal, 0) == 0;
        form.desktop.MsgBox(failed + (ours ? error->reason() : std::string(error->what())),
                            kMbSystemModal);
    } else if (job.cancelled) {
        return;  // a cancel, in the printer's own dialog
    } else if (!job.sent) {
        form.desktop.MsgBox(failed + job.reason, kMbSystemModal);
    } else {
        form.desktop.MsgBox(SentTo(choice->printer), kMbSystemModal);
    }
}

}  // namespace a5merge
