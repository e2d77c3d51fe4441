#pragma once

#include <windows.h>

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

// Windows' printers, fed as every Windows program feeds them: the sheet (a
// file Ghostscript reads, the PDF) is rendered at the printer's resolution
// and drawn on its page with GDI, A4 fitted to the paper chosen, centred,
// never cut. The paper, copies... are the DEVMODE given as kDevModeOption,
// else the printer's own with A4. Printers that take PostScript get the
// same picture.
class GdiPrinter : public PrintSpooler {
public:
    // At most this fine: the printer's driver scales the rest.
    static constexpr double kMostDotsPerInch = 300;

    explicit GdiPrinter(const Ghostscript& ghostscript) : ghostscript_(ghostscript) {}

    std::vector<std::string> Printers() override;
    PrintJob Send(const std::string& printer, const std::string& file, const std::string& title,
                  const PrintOptions& options) override;

private:
    const Ghostscript& ghostscript_;
};

}  // namespace a5merge
