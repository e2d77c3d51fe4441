#pragma once

// A desktop for programs that drive the window without a user (the
// screenshot tool, benchmarks): boxes are answered OK (and said on standard
// error), dialogs are cancelled, busy work runs at once; a first copy.

#include <cstdio>
#include <cstdlib>

#include "platform/desktop.h"
#include "platform/single_instance.h"

namespace a5merge::tools {

class QuietDesktop : public Desktop {
public:
    int MsgBox(const std::string& text, int, const std::optional<std::string>&) override {
        std::fprintf(stderr, "box: %s\n", text.c_str());
        return kIdOk;
    }
    std::optional<std::string> SaveAs(const SaveDialog&) override { return {}; }
    std::optional<std::string> OpenFile(const OpenDialog&) override { return {}; }
    std::optional<PrintChoice> ChoosePrinter(const std::string&) override { return {}; }
    void WhileBusy(const std::string&,
                   const std::function<void(const std::atomic<bool>&)>& work) override {
        const std::atomic<bool> cancel{false};
        work(cancel);
    }

protected:
    void EndProgram(int status) override { std::exit(status); }
};

class FirstCopy : public InstanceTest {
public:
    bool AnotherRunning() override { return false; }
};

}  // namespace a5merge::tools
