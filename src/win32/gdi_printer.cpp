#include "win32/gdi_printer.h"

#include <winspool.h>

#include <algorithm>

#include "ghostscript/sheet_output.h"
#include "handlers/sheet_preview.h"
#include "platform/windows_support.h"
#include "win32/window_support.h"

namespace a5merge {

using windows::Wide;

void PreferA4(DEVMODEW& settings) {
    settings.dmFields = (settings.dmFields | DM_PAPERSIZE) & ~(DM_PAPERLENGTH | DM_PAPERWIDTH | DM_FORMNAME);
    settings.dmPaperSize = DMPAPER_A4;
}

namespace {

// The printer's own settings, with A4; empty when it has none to give.
std::vector<BYTE> DefaultSettings(const std::wstring& printer) {
    HANDLE opened = nullptr;
    if (!::OpenPrinterW(const_cast<wchar_t*>(printer.c_str()), &opened, nullptr)) return {};
    std::vector<BYTE> settings;
    const LONG size = ::DocumentPropertiesW(nullptr, opened, const_cast<wchar_t*>(printer.c_str()),
                                            nullptr, nullptr, 0);
    if (size >= static_cast<LONG>(sizeof(DEVMODEW))) {
        settings.resize(static_cast<std::size_t>(size));
        auto* mode = reinterpret_cast<DEVMODEW*>(settings.data());
        if (::DocumentPropertiesW(nullptr, opened, const_cast<wchar_t*>(printer.c_str()), mode,
                                  nullptr, DM_OUT_BUFFER) == IDOK) {
            PreferA4(*mode);
        } else {
            settings.clear();
        }
    }
    ::ClosePrinter(opened);
    return settings;
}

std::string Reason(const char* what) {
    const DWORD code = ::GetLastError();
    return code != 0 ? windows::SystemReason(code) : std::string(what);
}

struct PrinterDc {
    HDC dc;
    ~PrinterDc() {
        if (dc != nullptr) ::DeleteDC(dc);
    }
};

}  // namespace

PrinterPage PrinterPage::Of(HDC dc) {
    PrinterPage page;
    page.dotsX = ::GetDeviceCaps(dc, LOGPIXELSX);
    page.dotsY = ::GetDeviceCaps(dc, LOGPIXELSY);
    page.paperWidth = ::GetDeviceCaps(dc, PHYSICALWIDTH);
    page.paperHeight = ::GetDeviceCaps(dc, PHYSICALHEIGHT);
    page.offsetX = ::GetDeviceCaps(dc, PHYSICALOFFSETX);
    page.offsetY = ::GetDeviceCaps(dc, PHYSICALOFFSETY);
    page.printableWidth = ::GetDeviceCaps(dc, HORZRES);
    page.printableHeight = ::GetDeviceCaps(dc, VERTRES);
    return page;
}

RECT SheetPlace(const PrinterPage& page) {
    if (page.dotsX <= 0 || page.dotsY <= 0 || page.printableWidth <= 0 ||
        page.printableHeight <= 0) {
        return {};
    }
    // In points, the same across and down.
    const auto across = [&](double pixels) { return pixels * 72.0 / page.dotsX; };
    const auto down = [&](double pixels) { return pixels * 72.0 / page.dotsY; };
    const SheetBox printable{across(page.offsetX), down(page.offsetY), across(page.printableWidth),
                             down(page.printableHeight)};
    const SheetBox sheet =
        SheetOnPaper(across(page.paperWidth), down(page.paperHeight), printable);
    if (sheet.width <= 0 || sheet.height <= 0) return {};
    // Back in the printer's pixels, from the printable area's corner (where
    // GDI's origin is), as SheetOnPaper counts.
    const auto x = [&](double points) {
        return static_cast<LONG>(points * page.dotsX / 72.0 + 0.5);
    };
    const auto y = [&](double points) {
        return static_cast<LONG>(points * page.dotsY / 72.0 + 0.5);
    };
    return {x(sheet.left), y(sheet.top), x(sheet.left + sheet.width), y(sheet.top + sheet.height)};
}

std::vector<std::string> GdiPrinter::Printers() {
    constexpr DWORD kWhich = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
    DWORD needed = 0, count = 0;
    ::EnumPrintersW(kWhich, nullptr, 4, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(std::max<DWORD>(needed, 1));
    std::vector<std::string> names;
    if (!::EnumPrintersW(kWhich, nullptr, 4, buffer.data(), needed, &needed, &count)) return names;
    const auto* printers = reinterpret_cast<const PRINTER_INFO_4W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) names.push_back(windows::Narrow(printers[i].pPrinterName));
    return names;
}

PrintJob GdiPrinter::Send(const std::string& printer, const std::string& file,
                          const std::string& title, const PrintOptions& options) {
    PrintJob job;
    const std::wstring printerName = Wide(printer);
    std::vector<BYTE> settings;
    for (const auto& [option, value] : options) {
        if (option == kDevModeOption && value.size() >= sizeof(DEVMODEW)) {
            settings.assign(value.begin(), value.end());
        }
    }
    if (settings.empty()) settings = DefaultSettings(printerName);
    const auto* mode =
        settings.empty() ? nullptr : reinterpret_cast<const DEVMODEW*>(settings.data());

    // Where the sheet goes on the paper, and the resolution that fills it,
    // asked of an information context here; the render is made off the
    // window's thread.
    ::SetLastError(0);
    const PrinterDc info{::CreateICW(L"WINSPOOL", printerName.c_str(), nullptr, mode)};
    if (info.dc == nullptr) {
        job.reason = Reason("the printer could not be opened");
        return job;
    }
    const PrinterPage geometry = PrinterPage::Of(info.dc);
    const RECT place = SheetPlace(geometry);
    if (place.right <= place.left || place.bottom <= place.top) {
        job.reason = "the printer gives no page to draw on";
        return job;
    }
    // As fine as the finer of the printer's two resolutions needs.
    const double needed = std::max(DotsPerInchFor(place.bottom - place.top),
                                   (place.right - place.left) * 72.0 / kSheetWidth);
    const RenderedPage page =
        RenderDocument(ghostscript_, file, std::min(kMostDotsPerInch, needed));
    if (!page.ok) {
        job.reason = page.failure;
        return job;
    }
    const DeviceBitmap bitmap(page.page);

    // A drawn page is no file: its job's name carries no file type (CUPS,
    // behind wine, would take wine's PostScript for what the name says).
    std::string name = title;
    if (name.size() > 4 && _stricmp(name.c_str() + name.size() - 4, ".pdf") == 0) {
        name.resize(name.size() - 4);
    }
    const std::wstring documentName = Wide(name);
    const auto print = [&] {
        ::SetLastError(0);
        const PrinterDc printerDc{::CreateDCW(L"WINSPOOL", printerName.c_str(), nullptr, mode)};
        const HDC dc = printerDc.dc;
        if (dc == nullptr) {
            job.reason = Reason("the printer could not be opened");
            return;
        }
        DOCINFOW document{};
        document.cbSize = sizeof document;
        document.lpszDocName = documentName.c_str();
        ::SetLastError(0);
        const int id = startDoc(dc, document);
        if (id <= 0) {
            if (::GetLastError() == ERROR_CANCELLED) {
                job.cancelled = true;  // in the driver's own dialog
            } else {
                job.reason = Reason("the printer took no job");
            }
            return;
        }
        if (::StartPage(dc) <= 0 || !bitmap.Draw(dc, place) || ::EndPage(dc) <= 0) {
            job.reason = Reason("the page could not be drawn");
            ::AbortDoc(dc);
            return;
        }
        if (::EndDoc(dc) <= 0) {
            job.reason = Reason("the job could not be ended");
            return;
        }
        job.sent = true;
        job.id = id;
    };
    if (onWindowThread_) {
        onWindowThread_(print);
    } else {
        print();
    }
    return job;
}

}  // namespace a5merge
