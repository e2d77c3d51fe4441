#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ghostscript/sheet_output.h"
#include "handlers/background_run.h"
#include "platform/file_system.h"

namespace a5merge {

class Ghostscript;

// What the context menu holds, said where the window's design allows: in the
// zones' tooltips and to screen readers.
inline constexpr const char* kMenuHint =
    "Right click, the Menu key or Shift+F10: Preview, Print, Save as PDF, Swap TOP and BOTTOM";
inline constexpr const char* kPreviewTitle = "Preview of the A4 sheet - PS merge";

// A4, in points.
inline constexpr double kSheetWidth = 595.0;
inline constexpr double kSheetHeight = 842.0;

struct SheetBox {
    double left = 0, top = 0, width = 0, height = 0;
};

// The A4 sheet as large as it fits into `room`, whole: centred across, at
// the room's top.
SheetBox FitSheet(const SheetBox& room);

// The A4 sheet on a printer's paper `paperWidth` by `paperHeight` whose
// printable part is `printable` (its place on the paper, and its size): as
// large as the printable part allows, centred on the paper where that keeps
// it printable, never cut. Relative to the printable part's corner.
SheetBox SheetOnPaper(double paperWidth, double paperHeight, const SheetBox& printable);

// The dots per inch that render the sheet `pixelsHigh` device pixels high.
inline double DotsPerInchFor(double pixelsHigh) { return pixelsHigh * 72.0 / kSheetHeight; }

// The preview's status line: "Rendering..." while it renders, else why the
// sheet will not print right, or which half has no file yet; then, once a
// render told it (`sandboxWhy`), that Ghostscript runs without its sandbox.
std::string PreviewStatus(bool rendering, const std::vector<std::string>& problems,
                          const SheetSources& sources, const std::string& sandboxWhy);

// The preview's renders of the sheet, the newest only, and what the window
// shows besides the picture: the failure in its place, the status line.
class SheetRender {
public:
    SheetRender(const Ghostscript& ghostscript, BackgroundRun::Post post)
        : ghostscript_(ghostscript), run_(std::move(post), true) {}

    void SetSources(const SheetSources& sources) { sources_ = sources; }
    // Renders the sheet at `dotsPerInch`; `done` gets its page on the
    // window's thread, or nothing when it failed (message() says why).
    // Without Ghostscript, that is said at once.
    void Start(double dotsPerInch, std::function<void(RenderedPage* page)> done);
    void CancelAll() { run_.CancelAll(); }

    bool rendering() const { return run_.Running(); }
    const std::string& message() const { return message_; }
    // The status line; that the sandbox cannot be made, once a render told.
    std::string Status() const;

private:
    const Ghostscript& ghostscript_;
    SheetSources sources_;
    std::string message_;  // in place of the picture
    std::vector<std::string> problems_;
    bool rendered_ = false;  // once, so the sandbox is known
    BackgroundRun run_;      // last: its work ends before the rest goes
};

// Small renders of the drawings the zones hold, for their tooltips. Renders
// run in the background, are kept by path, size and modification time, and
// are made again only when one of those changes; `rendered` says when one
// is done.
class DrawingRenders {
public:
    DrawingRenders(const Ghostscript& ghostscript, double dotsPerInch, BackgroundRun::Post post,
                   std::function<void(const std::string& path)> rendered);

    // The render of the drawing in `path` as the file is now, or nothing
    // while there is none yet (one is then started; none for a file that
    // is gone).
    const RenderedPage* For(const std::string& path);
    // Renders at `dotsPerInch` from now on (the window's DPI changed); those
    // made at another are made again when next asked for.
    void SetDotsPerInch(double dotsPerInch) { dotsPerInch_ = dotsPerInch; }
    // How many renders were started (not taken from the cache).
    int renders() const { return renders_; }

private:
    struct Entry {
        FileStamp stamp;
        double dotsPerInch;
        RenderedPage page;
    };

    const Ghostscript& ghostscript_;
    double dotsPerInch_;
    std::function<void(const std::string&)> rendered_;
    std::map<std::string, Entry> cache_;
    std::set<std::pair<std::string, std::int64_t>> pending_;  // path, change time
    int renders_ = 0;
    BackgroundRun run_;  // last: its work ends before the rest goes
};

}  // namespace a5merge
