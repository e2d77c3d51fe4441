#include "ghostscript/sheet_output.h"

#include <cerrno>
#include <memory>
#include <optional>

#include "ghostscript/raster.h"
#include "input/path_helpers.h"
#include "platform/file_system.h"
#include "platform/runtime_error.h"
#include "platform/text_files.h"

namespace a5merge {

namespace {

// Pages are rendered for the print check at this resolution: a hairline
// still darkens a pixel, and a page is small (A4: 248 x 351).
constexpr int kCheckDotsPerInch = 30;

// Copies file `from` to `to` and puts it in place.
void CopyInto(const std::string& from, OutputFile& to) {
    InputFile in(from);
    std::unique_ptr<char[]> buf(new char[TextFiles::kDefaultBufferSize]);
    for (std::size_t n; (n = in.Read(buf.get(), TextFiles::kDefaultBufferSize)) > 0;) {
        to.Write({buf.get(), n});
    }
    to.Commit();
}

}  // namespace

void ConvertWith(const Ghostscript& ghostscript, const std::vector<std::string>& device,
                 const std::string& from, const std::string& to, const std::string& name,
                 const std::atomic<bool>* cancel) {
    const GhostscriptResult result = ghostscript.Run(device, from, to, cancel);
    if (result.cancelled) throw RuntimeError(name, result.failure, ECANCELED);
    if (!result.ok) throw RuntimeError(name, result.failure);
}

std::vector<std::string> PrintProblems(const Ghostscript& ghostscript, const std::string& path,
                                       const std::atomic<bool>* cancel) {
    const GhostscriptResult result =
        ghostscript.Run(GrayRasterDevice(kCheckDotsPerInch), path, {}, cancel);
    if (!result.ok) return {result.failure};
    std::vector<Raster> pages;
    if (!ReadRasters(result.output, pages)) return {"Ghostscript's pages could not be read"};
    return SheetProblems(pages);
}

SheetWritten WriteSheetAs(MergeState& state, TextFiles& files, const SheetJob& job,
                          SheetFormat format, bool verify, const Ghostscript& ghostscript,
                          const std::atomic<bool>* cancel) {
    SheetWritten written;
    if (format == SheetFormat::PostScript && !verify) {
        written.sheet = WriteSheet(state, files, job);
        return written;
    }
    const auto fail = [&written](const RuntimeError& error) {
        written.sheet.outcome = SheetResult::Outcome::Failed;
        written.sheet.error = error;
        return written;
    };
    std::optional<PrivateFolder> work;
    try {
        work.emplace();
    } catch (const RuntimeError& error) {
        return fail(error);
    }
    // The sheet's bytes, once, where only this run sees them.
    SheetJob spool = job;
    spool.output = work->Path("sheet.ps");
    spool.ifExists = IfExists::Fail;
    written.sheet = WriteSheet(state, files, spool);
    state.outFile = job.output;
    if (written.sheet.outcome != SheetResult::Outcome::Written) return written;

    std::string document = spool.output;
    try {
        if (format == SheetFormat::Pdf) {
            document = work->Path("sheet.pdf");
            ConvertWith(ghostscript, PdfDevice(), spool.output, document, job.output, cancel);
        }
        std::unique_ptr<OutputFile> out =
            files.NamesStandardOutput(job.output)
                ? OutputFile::StandardOutput(job.output)
                : std::make_unique<OutputFile>(job.output, job.ifExists, job.special);
        CopyInto(document, *out);
        written.sheet.writtenPath = out->WrittenPath();
    } catch (const RuntimeError& error) {
        return fail(error);
    }
    if (verify) written.problems = PrintProblems(ghostscript, document, cancel);
    return written;
}

namespace {

// Renders the document in `path` and keeps its first page.
RenderedPage RenderFile(const Ghostscript& ghostscript, const std::string& path, double dotsPerInch,
                        const std::atomic<bool>* cancel, std::vector<Raster>& pages) {
    RenderedPage rendered;
    const GhostscriptResult result =
        ghostscript.Run(ColourRasterDevice(dotsPerInch), path, {}, cancel);
    rendered.cancelled = result.cancelled;
    if (!result.ok) {
        rendered.failure = result.failure;
    } else if (!ReadRasters(result.output, pages)) {
        rendered.failure = "Ghostscript's pages could not be read";
    } else if (pages.empty()) {
        rendered.failure = "prints as 0 pages: there is nothing to show";
    } else {
        rendered.ok = true;
        rendered.page = pages.front();
    }
    return rendered;
}

}  // namespace

// Which half Ghostscript cannot read, as the beginning of its `failure`
// ("TOP, left.ps: ", "TOP: " where the failure names the file): the one
// there is, or of two the first that fails alone; nothing when each reads
// alone.
std::string WhichHalf(const Ghostscript& ghostscript, const SheetSources& sources,
                      const std::string& failure, const std::atomic<bool>* cancel) {
    const auto named = [&failure](const char* half, const std::string& path) {
        const std::string name = FileOnly(path);
        return std::string(half) +
               (failure.find(name) != std::string::npos ? "" : ", " + name) + ": ";
    };
    if (!sources.top || !sources.bottom) {
        return sources.top ? named("TOP", *sources.top) : named("BOTTOM", *sources.bottom);
    }
    constexpr double kGlance = 10;  // dots per inch: enough to fail as it would
    const std::pair<const char*, std::string> halves[] = {{"TOP", *sources.top},
                                                          {"BOTTOM", *sources.bottom}};
    for (const auto& [half, path] : halves) {
        const RenderedPage alone = RenderDrawing(ghostscript, path, kGlance, cancel);
        if (!alone.ok && !alone.cancelled) return named(half, path);
    }
    return {};
}

RenderedPage RenderSheet(const Ghostscript& ghostscript, const SheetSources& sources,
                         double dotsPerInch, const std::atomic<bool>* cancel) {
    RenderedPage rendered;
    if (!sources.top && !sources.bottom) {
        rendered.failure = "no file to show";
        return rendered;
    }
    std::optional<PrivateFolder> work;
    std::string document = sources.bottom.value_or("");
    try {
        if (sources.top) {
            work.emplace();
            // TOP alone stands on an empty BOTTOM: shifted into its place.
            const std::string bottom = sources.bottom ? *sources.bottom : work->Path("empty.ps");
            if (!sources.bottom) OutputFile(bottom, IfExists::Fail).Commit();
            MergeState state;
            TextFiles files;
            document = work->Path("sheet.ps");
            const SheetResult sheet =
                WriteSheet(state, files, {*sources.top, bottom, document, IfExists::Fail, false});
            if (sheet.error) throw *sheet.error;
        }
    } catch (const RuntimeError& error) {
        rendered.failure = WhichHalf(ghostscript, sources, error.what(), cancel) + error.what();
        return rendered;
    }
    std::vector<Raster> pages;
    rendered = RenderFile(ghostscript, document, dotsPerInch, cancel, pages);
    if (!rendered.ok) {
        if (!rendered.cancelled) {
            rendered.failure = WhichHalf(ghostscript, sources, rendered.failure, cancel) +
                               rendered.failure;
        }
        return rendered;
    }
    if (sources.top && sources.bottom) {
        rendered.problems = SheetProblems(pages);
    } else if (pages.size() > 1) {
        rendered.problems = {"prints as " + std::to_string(pages.size()) + " pages"};
    }
    return rendered;
}

RenderedPage RenderDocument(const Ghostscript& ghostscript, const std::string& path,
                            double dotsPerInch, const std::atomic<bool>* cancel) {
    std::vector<Raster> pages;
    return RenderFile(ghostscript, path, dotsPerInch, cancel, pages);
}

RenderedPage RenderDrawing(const Ghostscript& ghostscript, const std::string& path,
                           double dotsPerInch, const std::atomic<bool>* cancel) {
    std::vector<Raster> pages;
    RenderedPage rendered = RenderFile(ghostscript, path, dotsPerInch, cancel, pages);
    if (rendered.ok)
        rendered.page = Rows(rendered.page, rendered.page.height / 2, rendered.page.height);
    return rendered;
}

}  // namespace a5merge
