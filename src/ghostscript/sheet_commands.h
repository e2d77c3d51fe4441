#pragma once

#include <string>

#include "ghostscript/ghostscript.h"
#include "platform/file_system.h"
#include "state/form_context.h"

namespace a5merge {

class PrintSpooler;

inline constexpr const char* kNoPrinter =
    "No printer is set up. Add one in the system's printer settings, or save the sheet as PDF.";
inline constexpr const char* kMakingThePdf = "Making the PDF of the sheet...";

// What printing tells: "Sent to PRINTER".
std::string SentTo(const std::string& printer);

// A print job's title made of `name`: at most the 255 bytes a print system
// takes, cut between UTF-8 characters.
inline constexpr std::size_t kMaxJobTitle = 255;
std::string JobTitle(const std::string& name);

// Writes the PDF of the accepted pair to `output` (with `ifExists`) while the
// window says so, and tells the outcome as MERGE + SAVE tells it (without
// Ghostscript: which package to install); true once it is written. FIFOs
// and devices are refused: the window never waits. Cancel while busy ends it
// silently.
bool WriteSheetPdf(FormContext& form, const Ghostscript& ghostscript, const std::string& output,
                   IfExists ifExists);

// Save as PDF: as MERGE + SAVE, with a PDF. Refuses until both zones hold an
// accepted file; asks where (TOP's folder, NAME_Combi.pdf proposed, .pdf added
// to a name without an extension, replacing asked first); has Ghostscript
// make the PDF of exactly the sheet MERGE + SAVE would write, while the
// window says so; writes it by the same output rules; tells success and
// failure as MERGE + SAVE tells them. Cancel, in the dialog or while busy,
// ends it silently.
void SaveSheetAsPdf(FormContext& form, const Ghostscript& ghostscript);

// Print: refuses as MERGE + SAVE does; says so when Ghostscript or every
// printer is missing; else the print dialog chooses the printer and its
// options, and the sheet goes to it as PDF (never as PostScript, which
// CUPS's PostScript filter cuts to BOTTOM). Tells "Sent to PRINTER", or why
// not, as the print system says. A file chosen instead of a printer gets the
// PDF, as Save as PDF writes it.
void PrintSheet(FormContext& form, const Ghostscript& ghostscript, PrintSpooler& spooler);

}  // namespace a5merge
