#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/print_spooler.h"

namespace a5merge {

class Ghostscript;

// The option of a PrintChoice that carries the DEVMODE the print dialog
// chose (its bytes).
inline constexpr const char* kDevModeOption = "devmode";

// Asks for A4 paper in `settings`, in place of any other paper it names.
void PreferA4(DEVMODEW& settings);

// A printer's page as GetDeviceCaps tells it, in the printer's pixels.
struct PrinterPage {
    int dotsX = 0, dotsY = 0;                    // LOGPIXELSX, LOGPIXELSY
    int paperWidth = 0, paperHeight = 0;         // PHYSICALWIDTH, PHYSICALHEIGHT
    int offsetX = 0, offsetY = 0;                // PHYSICALOFFSETX, PHYSICALOFFSETY
    int printableWidth = 0, printableHeight = 0; // HORZRES, VERTRES

    static PrinterPage Of(HDC dc);
};

// Where the A4 sheet goes on that page, in its pixels from the printable
// area's corner: fitted in inches, so that a printer whose pixels are not
// square (200 x 100 dpi) prints it unsquashed; empty when there is no room.
RECT SheetPlace(const PrinterPage& page);

// Windows' printers, fed as every Windows program feeds them: the sheet (a
// file Ghostscript reads, the PDF) is rendered at the printer's resolution
// and drawn on its page with GDI, A4 fitted to the paper chosen, centred,
// never cut. The paper, copies... are the DEVMODE given as kDevModeOption,
// else the printer's own with A4. Printers that take PostScript get the
// same picture.
//
// The job itself (StartDoc to EndDoc) is made on the window's thread, so
// that a driver's own dialog (Microsoft Print to PDF asks where to save)
// belongs to the window; its Cancel cancels the job.
class GdiPrinter : public PrintSpooler {
public:
    // At most this fine: the printer's driver scales the rest.
    static constexpr double kMostDotsPerInch = 300;
    // Runs `work` on the window's thread and returns once it has run.
    using OnWindowThread = std::function<void(const std::function<void()>& work)>;

    explicit GdiPrinter(const Ghostscript& ghostscript, OnWindowThread onWindowThread = nullptr)
        : ghostscript_(ghostscript), onWindowThread_(std::move(onWindowThread)) {}

    std::vector<std::string> Printers() override;
    PrintJob Send(const std::string& printer, const std::string& file, const std::string& title,
                  const PrintOptions& options) override;

    // StartDocW, or what the tests put in its place.
    std::function<int(HDC, const DOCINFOW&)> startDoc = [](HDC dc, const DOCINFOW& document) {
        return ::StartDocW(dc, &document);
    };

private:
    const Ghostscript& ghostscript_;
    OnWindowThread onWindowThread_;
};

}  // namespace a5merge
