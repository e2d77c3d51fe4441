#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "ghostscript/ghostscript.h"
#include "ghostscript/raster.h"
#include "merge/sheet.h"

namespace a5merge {

class TextFiles;

enum class SheetFormat { PostScript, Pdf };

// The name a PDF of the sheet gets by default ends so (TOP's folder, TOP's
// name without its extension, then this).
inline constexpr const char* kPdfCombiEnding = "_Combi.pdf";

// How writing a sheet as PostScript or PDF ended.
struct SheetWritten {
    SheetResult sheet;                  // as WriteSheet reports it
    std::vector<std::string> problems;  // with `verify`: why it will not print right
};

// Writes the sheet of `job` as `format`. PostScript is written as WriteSheet
// writes it. A PDF is made by Ghostscript from exactly those bytes, made
// first in a private folder, and goes to the output by the same rules (put
// in place whole, IfExists, standard output, FIFOs and devices); a
// Ghostscript failure is a failed write, its reason Ghostscript's. With
// `verify`, the sheet written is rendered and `problems` says what keeps it
// from printing as one sheet with both drawings (SheetProblems, or
// Ghostscript's error); it stays written.
// A run that `cancel` stops is a failed write whose error has the system
// error ECANCELED.
SheetWritten WriteSheetAs(MergeState& state, TextFiles& files, const SheetJob& job,
                          SheetFormat format, bool verify, const Ghostscript& ghostscript,
                          const std::atomic<bool>* cancel = nullptr);

// Has Ghostscript make the document in file `from` with `device` into a new
// file `to`. Throws RuntimeError(`name`, Ghostscript's reason) when it fails,
// and with ECANCELED when `cancel` stopped it.
void ConvertWith(const Ghostscript& ghostscript, const std::vector<std::string>& device,
                 const std::string& from, const std::string& to, const std::string& name,
                 const std::atomic<bool>* cancel = nullptr);

// What keeps the document in file `path` from printing as one sheet with
// both drawings, rendered by Ghostscript: its error, or SheetProblems.
std::vector<std::string> PrintProblems(const Ghostscript& ghostscript, const std::string& path,
                                       const std::atomic<bool>* cancel = nullptr);

// The accepted files a sheet is made of: both, or one of them.
struct SheetSources {
    std::optional<std::string> top;
    std::optional<std::string> bottom;
};

// A page rendered to be shown, or why there is none.
struct RenderedPage {
    bool ok = false;
    bool cancelled = false;
    Raster page;                        // the first page, in colour
    std::vector<std::string> problems;  // why it will not print right (both halves only)
    std::string failure;                // why nothing is shown
};

// The sheet of `sources` exactly as MERGE + SAVE would write it now, from the
// files as they are, rendered at `dotsPerInch`. With one of them, that half
// alone in its place.
RenderedPage RenderSheet(const Ghostscript& ghostscript, const SheetSources& sources,
                         double dotsPerInch, const std::atomic<bool>* cancel = nullptr);

// The first page of the document in file `path` (any kind Ghostscript reads),
// rendered at `dotsPerInch`.
RenderedPage RenderDocument(const Ghostscript& ghostscript, const std::string& path,
                            double dotsPerInch, const std::atomic<bool>* cancel = nullptr);

// The half page the drawing in `path` draws (the lower half of A4), rendered
// alone at `dotsPerInch`.
RenderedPage RenderDrawing(const Ghostscript& ghostscript, const std::string& path,
                           double dotsPerInch, const std::atomic<bool>* cancel = nullptr);

}  // namespace a5merge
