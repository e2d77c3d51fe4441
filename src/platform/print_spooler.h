#pragma once

#include <string>
#include <utility>
#include <vector>

namespace a5merge {

struct PrintJob {
    bool sent = false;
    int id = 0;          // the print system's number for the job
    std::string reason;  // why it was not sent, as the print system says
    bool cancelled = false;  // the user cancelled it (in the printer's own dialog)
};

using PrintOptions = std::vector<std::pair<std::string, std::string>>;

// The print system: its printers, and jobs handed to it.
class PrintSpooler {
public:
    virtual ~PrintSpooler() = default;
    // The printers it knows, by name.
    virtual std::vector<std::string> Printers() = 0;
    // Hands `file` to `printer` as one job named `title`, with the job
    // options given (name, value), as they are.
    virtual PrintJob Send(const std::string& printer, const std::string& file,
                          const std::string& title, const PrintOptions& options) = 0;
};

// The system's own: CUPS, at the server $CUPS_SERVER names or its default.
class SystemSpooler : public PrintSpooler {
public:
    std::vector<std::string> Printers() override;
    PrintJob Send(const std::string& printer, const std::string& file, const std::string& title,
                  const PrintOptions& options) override;
};

}  // namespace a5merge
