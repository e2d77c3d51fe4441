// Printing through CUPS: the file goes to the queue as it is, with the
// options a print dialog chose; CUPS's filters make it right for the printer.
// libcups is loaded when printing is first asked for, not at start: it
// brings TLS, Kerberos and DNS-SD libraries that take longer to load than
// the rest of the window.

#include <cups/cups.h>
#include <dlfcn.h>

#include <mutex>

#include "platform/print_spooler.h"

namespace a5merge {

namespace {

struct Cups {
    decltype(&cupsGetDests2) getDests = nullptr;
    decltype(&cupsFreeDests) freeDests = nullptr;
    decltype(&cupsAddOption) addOption = nullptr;
    decltype(&cupsFreeOptions) freeOptions = nullptr;
    decltype(&cupsPrintFile2) printFile = nullptr;
    decltype(&cupsLastErrorString) lastError = nullptr;
    bool loaded = false;
};

const Cups& LoadCups() {
    static Cups cups;
    static std::once_flag once;
    std::call_once(once, [] {
        void* library = ::dlopen("libcups.so.2", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return;
        const auto symbol = [library](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
                ::dlsym(library, name));
            return function != nullptr;
        };
        cups.loaded = symbol(cups.getDests, "cupsGetDests2") &&
                      symbol(cups.freeDests, "cupsFreeDests") &&
                      symbol(cups.addOption, "cupsAddOption") &&
                      symbol(cups.freeOptions, "cupsFreeOptions") &&
                      symbol(cups.printFile, "cupsPrintFile2") &&
                      symbol(cups.lastError, "cupsLastErrorString");
    });
    return cups;
}

}  // namespace

std::vector<std::string> SystemSpooler::Printers() {
    const Cups& cups = LoadCups();
    std::vector<std::string> names;
    if (!cups.loaded) return names;
    cups_dest_t* dests = nullptr;
    const int count = cups.getDests(CUPS_HTTP_DEFAULT, &dests);
    for (int i = 0; i < count; ++i) {
        if (dests[i].instance == nullptr) names.emplace_back(dests[i].name);
    }
    cups.freeDests(count, dests);
    return names;
}

PrintJob SystemSpooler::Send(const std::string& printer, const std::string& file,
                             const std::string& title, const PrintOptions& options) {
    const Cups& cups = LoadCups();
    PrintJob job;
    if (!cups.loaded) {
        job.reason = "CUPS's library (libcups.so.2, package libcups2) is not installed";
        return job;
    }
    cups_option_t* list = nullptr;
    int count = 0;
    for (const auto& [name, value] : options) {
        count = cups.addOption(name.c_str(), value.c_str(), count, &list);
    }
    job.id = cups.printFile(CUPS_HTTP_DEFAULT, printer.c_str(), file.c_str(), title.c_str(), count,
                            list);
    cups.freeOptions(count, list);
    job.sent = job.id > 0;
    if (!job.sent) job.reason = cups.lastError();
    return job;
}

}  // namespace a5merge
