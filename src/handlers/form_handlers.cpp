#include "handlers/form_handlers.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "ghostscript/ghostscript.h"
#include "ghostscript/sheet_commands.h"
#include "input/path_helpers.h"
#include "merge/merge_command.h"
#include "merge/startup.h"
#include "platform/desktop.h"
#include "platform/file_system.h"

namespace a5merge {

FormHandlers::FormHandlers(Desktop& desktop, TextFiles& files, InstanceTest& instances,
                           Captions& captions, std::function<void()> later, ZoneViews* views)
    : desktop_(desktop),
      files_(files),
      instances_(instances),
      captions_(captions),
      views_(views),
      handOvers_(std::move(later)),
      ownGhostscript_(std::make_unique<Ghostscript>()),
      ghostscript_(ownGhostscript_.get()) {}

FormHandlers::~FormHandlers() = default;

void FormHandlers::Load(const std::string& lastError) {
    Form_Load(state_, desktop_, instances_, lastError);
}

SheetSources FormHandlers::Sources() const {
    SheetSources sources;
    if (state_.topOK != 0) sources.top = state_.topFile;
    if (state_.bottomOK != 0) sources.bottom = state_.bottomFile;
    return sources;
}

void FormHandlers::TakeFiles(Zone zone, const std::vector<std::string>& paths) {
    Guarded([&] {
        if (!Reach(paths)) return;  // the user stopped waiting
        FormContext form = Context();
        CheckDetail detail;
        const DropVerdict verdict = DropOnZone(zone, paths, form, &detail);
        Remember(zone, verdict, paths.size() == 1 ? paths.front() : std::string(), detail);
    });
}

// Asks for a file on another machine off the window's thread first, until
// it answers or the user stops waiting (false): the window then finds the
// server's connection made. What does not answer is left to its own thread.
bool FormHandlers::Reach(const std::vector<std::string>& paths) {
    if (paths.size() != 1 || !OnAnotherMachine(paths.front())) return true;
    auto answered = std::make_shared<std::atomic<bool>>(false);
    std::thread([path = paths.front(), answered] {
        (void)NamesSomething(path);
        answered->store(true);
    }).detach();
    bool stopped = false;
    desktop_.WhileBusy("Reaching " + paths.front() + "...", [&](const std::atomic<bool>& cancel) {
        for (;;) {
            if (cancel.load()) {
                stopped = true;
                return;
            }
            if (answered->load()) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    return !stopped;
}

void FormHandlers::ChooseFile(Zone zone) {
    Guarded([&] {
        FormContext form = Context();
        CheckDetail detail;
        std::string chosen;
        const DropVerdict verdict = ChooseForZone(zone, form, lastFolder_, &detail, &chosen);
        Remember(zone, verdict, chosen, detail);
    });
}

// The Open dialog starts where the last file accepted on either zone lies,
// and the window follows the file accepted. A refused file is remembered
// with why, for the zone's tooltip, until the zone accepts one.
void FormHandlers::Remember(Zone zone, DropVerdict verdict, const std::string& path,
                            const CheckDetail& detail) {
    std::string& refusal = refusals_[zone == Zone::Top ? 0 : 1];
    if (verdict != DropVerdict::Accepted) {
        const std::string reason = RefusalReason(verdict);
        if (reason.empty() || verdict == DropVerdict::ShortPath) return;
        refusal = (path.empty() ? std::string() : FileOnly(path) + ": ") + WithDetail(reason, detail);
        ShowZone(zone);
        return;
    }
    refusal.clear();
    lastFolder_ = PathOnly(zone == Zone::Top ? state_.topFile : state_.bottomFile);
    if (lastFolder_.empty()) lastFolder_ = std::string(1, PlatformSeparator());
    ShowZone(zone);
}

void FormHandlers::ShowZone(Zone zone) {
    if (views_ == nullptr) return;
    views_->ShowTip(zone);
    views_->Describe();
    views_->ShowSheetOf(Sources());
}

bool FormHandlers::TakeFilesOnceShown(std::vector<std::string> files) {
    return handOvers_.Add(std::move(files));
}

bool FormHandlers::TakeFilesFromAnotherCopy(std::vector<std::string> files) {
    return handOvers_.FromAnotherCopy(std::move(files));
}

void FormHandlers::TakeHandOver() {
    const std::optional<HandOvers::HandOver> next = handOvers_.TakeNext();
    if (!next) return;
    TakeFiles(next->first, {next->files.at(0)});
    if (next->files.size() > 1) TakeFiles(Zone::Bottom, {next->files.at(1)});
}

void FormHandlers::Swap() {
    Guarded([&] {
        if (state_.topOK == 0 || state_.bottomOK == 0) {
            desktop_.MsgBox(kInputsNotCorrect, kMbSystemModal);
            return;
        }
        const std::string top = state_.topFile;
        const std::string bottom = state_.bottomFile;
        TakeFiles(Zone::Top, {bottom});
        TakeFiles(Zone::Bottom, {top});
    });
}

void FormHandlers::Print() {
    Guarded([&] {
        FormContext form = Context();
        PrintSheet(form, *ghostscript_, *spooler_);
    });
}

void FormHandlers::Preview(const std::function<void(const SheetSources&)>& show) {
    Guarded([&] {
        if (state_.topOK == 0 && state_.bottomOK == 0) {
            desktop_.MsgBox(kInputsNotCorrect, kMbSystemModal);
            return;
        }
        show(Sources());
    });
}

void FormHandlers::Run(MenuCommand command,
                       const std::function<void(const SheetSources&)>& show) {
    switch (command) {
        case MenuCommand::Preview:
            Preview(show);
            break;
        case MenuCommand::Print:
            Print();
            break;
        case MenuCommand::SaveAsPdf:
            SaveAsPdf();
            break;
        case MenuCommand::Swap:
            Swap();
            break;
    }
}

void FormHandlers::SaveAsPdf() {
    Guarded([&] {
        FormContext form = Context();
        SaveSheetAsPdf(form, *ghostscript_);
    });
}

void FormHandlers::cmdMerge_Click() {
    Guarded([&] {
        FormContext form = Context();
        a5merge::cmdMerge_Click(
            form, [this](FormContext& inner, const std::string& output, IfExists ifExists) {
                return WriteSheetPdf(inner, *ghostscript_, output, ifExists);
            });
    });
}

void FormHandlers::cmdExit_Click() {
    Guarded([&] {
        // While it asks, and once it ends, no other copy hands files over.
        struct Asking {
            HandOvers& handOvers;
            explicit Asking(HandOvers& h) : handOvers(h) { handOvers.AskingToEnd(true); }
            ~Asking() { handOvers.AskingToEnd(false); }
        };
        const int answer = [&] {
            const Asking asking(handOvers_);
            return desktop_.MsgBox("You're sure?", kMbOkCancel | kMbIconQuestion,
                                   "Confirmation");
        }();
        if (answer == kIdOk) {
            handOvers_.Closing();
            desktop_.End(0);
        }
    });
}

// An exception must not cross the window's event loop: one that nothing
// below expected is shown, and the window goes on. Files handed over
// meanwhile wait until the handler, and any box it shows, is done.
void FormHandlers::Guarded(const std::function<void()>& handler) {
    struct Running {
        HandOvers& handOvers;
        explicit Running(HandOvers& h) : handOvers(h) { handOvers.HandlerStarts(); }
        ~Running() { handOvers.HandlerEnds(); }
    } running(handOvers_);
    try {
        handler();
    } catch (const std::exception& error) {
        desktop_.MsgBox(error.what(), kMbSystemModal);
    }
}

}  // namespace a5merge
