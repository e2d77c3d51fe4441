#include "handlers/sheet_preview.h"

#include <algorithm>

#include "ghostscript/ghostscript.h"

namespace a5merge {

SheetBox FitSheet(const SheetBox& room) {
    const double scale =
        std::max(0.01, std::min(room.width / kSheetWidth, room.height / kSheetHeight));
    SheetBox sheet{0, 0, kSheetWidth * scale, kSheetHeight * scale};
    sheet.left = room.left + (room.width - sheet.width) / 2;
    sheet.top = room.top;
    return sheet;
}

SheetBox SheetOnPaper(double paperWidth, double paperHeight, const SheetBox& printable) {
    SheetBox sheet = FitSheet({0, 0, printable.width, printable.height});
    sheet.left = std::clamp((paperWidth - sheet.width) / 2 - printable.left, 0.0,
                            std::max(0.0, printable.width - sheet.width));
    sheet.top = std::clamp((paperHeight - sheet.height) / 2 - printable.top, 0.0,
                           std::max(0.0, printable.height - sheet.height));
    return sheet;
}

void SheetRender::Start(double dotsPerInch, std::function<void(RenderedPage* page)> done) {
    if (!ghostscript_.Found()) {
        message_ = kGhostscriptMissing;
        problems_.clear();
        done(nullptr);
        return;
    }
    const SheetSources sources = sources_;
    const Ghostscript& ghostscript = ghostscript_;
    run_.Start<RenderedPage>(
        [&ghostscript, sources, dotsPerInch](const std::atomic<bool>& cancel) {
            return RenderSheet(ghostscript, sources, dotsPerInch, &cancel);
        },
        [this, done = std::move(done)](RenderedPage rendered) {
            if (rendered.cancelled) return;
            rendered_ = true;
            message_ = rendered.ok ? std::string() : rendered.failure;
            problems_ = rendered.problems;
            done(rendered.ok ? &rendered : nullptr);
        });
}

std::string SheetRender::Status() const {
    std::string why;
    if (!rendered_ || ghostscript_.Sandboxed(&why)) why.clear();
    return PreviewStatus(run_.Running(), problems_, sources_, why);
}

std::string PreviewStatus(bool rendering, const std::vector<std::string>& problems,
                          const SheetSources& sources, const std::string& sandboxWhy) {
    std::string text;
    if (rendering) {
        text = "Rendering...";
    } else if (!problems.empty()) {
        text = "Will not print right: ";
        for (std::size_t i = 0; i < problems.size(); ++i) {
            text += (i > 0 ? "; " : "") + problems[i];
        }
    } else if (!sources.top || !sources.bottom) {
        text =
            sources.top ? "TOP only: BOTTOM has no file yet" : "BOTTOM only: TOP has no file yet";
    }
    if (!rendering && !sandboxWhy.empty()) {
        if (!text.empty()) text += "\n";
        text += "Ghostscript runs without its sandbox here: " + sandboxWhy;
    }
    return text;
}

namespace {

struct Drawn {
    std::string path;
    FileStamp stamp;
    double dotsPerInch;
    RenderedPage page;
};

}  // namespace

DrawingRenders::DrawingRenders(const Ghostscript& ghostscript, double dotsPerInch,
                               BackgroundRun::Post post,
                               std::function<void(const std::string& path)> rendered)
    : ghostscript_(ghostscript),
      dotsPerInch_(dotsPerInch),
      rendered_(std::move(rendered)),
      run_(std::move(post), false) {}

const RenderedPage* DrawingRenders::For(const std::string& path) {
    const std::optional<FileStamp> stamp = StampOf(path);
    if (!stamp) return nullptr;
    const auto cached = cache_.find(path);
    if (cached != cache_.end() && cached->second.stamp == *stamp &&
        cached->second.dotsPerInch == dotsPerInch_) {
        return &cached->second.page;
    }
    if (pending_.insert({path, stamp->changedNs}).second) {
        ++renders_;
        const Ghostscript& ghostscript = ghostscript_;
        const double dotsPerInch = dotsPerInch_;
        const FileStamp now = *stamp;
        run_.Start<Drawn>(
            [&ghostscript, path, now, dotsPerInch](const std::atomic<bool>& cancel) {
                return Drawn{path, now, dotsPerInch,
                             RenderDrawing(ghostscript, path, dotsPerInch, &cancel)};
            },
            [this](Drawn drawn) {
                pending_.erase({drawn.path, drawn.stamp.changedNs});
                cache_[drawn.path] = Entry{drawn.stamp, drawn.dotsPerInch, std::move(drawn.page)};
                if (rendered_) rendered_(drawn.path);
            });
    }
    return nullptr;
}

}  // namespace a5merge
