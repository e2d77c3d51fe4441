// Printing through CUPS: the file goes to the queue as it is, with the
// options a print dialog chose; CUPS's filters make it right for the printer.

#include <cups/cups.h>

#include "platform/print_spooler.h"

namespace a5merge {

std::vector<std::string> SystemSpooler::Printers() {
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        if (dests[i].instance == nullptr) names.emplace_back(dests[i].name);
    }
    cupsFreeDests(count, dests);
    return names;
}

PrintJob SystemSpooler::Send(const std::string& printer, const std::string& file,
                             const std::string& title, const PrintOptions& options) {
    cups_option_t* list = nullptr;
    int count = 0;
    for (const auto& [name, value] : options) {
        count = cupsAddOption(name.c_str(), value.c_str(), count, &list);
    }
    PrintJob job;
    job.id = cupsPrintFile2(CUPS_HTTP_DEFAULT, printer.c_str(), file.c_str(), title.c_str(), count,
                            list);
    cupsFreeOptions(count, list);
    job.sent = job.id > 0;
    if (!job.sent) job.reason = cupsLastErrorString();
    return job;
}

}  // namespace a5merge
