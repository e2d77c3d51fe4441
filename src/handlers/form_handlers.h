#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ghostscript/sheet_output.h"
#include "handlers/hand_overs.h"
#include "input/drop_zones.h"
#include "state/captions.h"
#include "state/form_context.h"
#include "state/merge_state.h"

namespace a5merge {

// The context menu's commands, in its order, with their shortcuts: Ctrl,
// perhaps Shift, and a key (an upper-case letter or a digit, as both
// toolkits name it and Windows' virtual-key codes are).
enum class MenuCommand { Preview, Print, SaveAsPdf, Swap };
struct MenuItem {
    MenuCommand command;
    const char* name;  // to find it by: "preview"
    const char* text;  // "Preview..."
    bool shift;        // with Ctrl, always
    char key;          // 'P'
    bool separatorBefore;
};
inline constexpr MenuItem kMenuItems[] = {
    {MenuCommand::Preview, "preview", "Preview...", true, 'P', false},
    {MenuCommand::Print, "print", "Print...", false, 'P', false},
    {MenuCommand::SaveAsPdf, "savePdf", "Save as PDF...", true, 'S', false},
    {MenuCommand::Swap, "swap", "Swap TOP and BOTTOM", true, 'X', true},
};

// A shortcut as menus show it: "Ctrl+Shift+P".
inline std::string ShortcutText(const MenuItem& item) {
    return std::string(item.shift ? "Ctrl+Shift+" : "Ctrl+") + item.key;
}

class Desktop;
class Ghostscript;
class InstanceTest;
class PrintSpooler;
class TextFiles;

// What a window shows of its zones beyond their captions. Each time a zone
// takes or refuses a file, all three follow, in this order.
class ZoneViews {
public:
    virtual ~ZoneViews() = default;
    // The zone's tooltip (why it refused, what it holds).
    virtual void ShowTip(Zone zone) = 0;
    // Each zone's name for screen readers.
    virtual void Describe() = 0;
    // The preview, when it is open, renders `sources`.
    virtual void ShowSheetOf(const SheetSources& sources) = 0;
};

// What the window does beyond drawing and wiring, the same for every
// window: it owns the MergeState, runs each handler guarded (an exception
// shown, not passed to the event loop), takes files handed over once shown,
// remembers where the last file accepted lies, and swaps the zones. The
// window draws, wires its controls and events to these, and is told when
// a zone accepts a file (ZoneViews).
class FormHandlers {
public:
    // `later` asks the window to call TakeHandOver soon, from its event loop;
    // `views` (none: nothing to show) follow each file a zone takes or refuses.
    FormHandlers(Desktop& desktop, TextFiles& files, InstanceTest& instances, Captions& captions,
                 std::function<void()> later, ZoneViews* views);
    ~FormHandlers();
    FormHandlers(const FormHandlers&) = delete;
    FormHandlers& operator=(const FormHandlers&) = delete;

    // `lastError`: what the start-up box says after its text, should another
    // copy run (why the files of this one did not reach it).
    void Load(const std::string& lastError = {});
    // A drop of `paths` on a zone, and a click (or Space, Enter) on it: its
    // Open dialog, starting where the last file accepted lies. A file on
    // another machine is reached first off the window's thread (the busy box
    // says so and offers Cancel), so that a slow server never freezes the
    // window.
    void TakeFiles(Zone zone, const std::vector<std::string>& paths);
    void ChooseFile(Zone zone);
    // Files handed over from outside (the command line, a second copy): the
    // first goes to TOP (or BOTTOM, as HandOvers says) and the second to
    // BOTTOM, each as a drop, once the window has been shown and no box of
    // an earlier hand-over is open. False when they are refused: too many
    // wait already, or, from another copy, the window is not shown yet, asks
    // whether to end or is closing (nothing is taken).
    bool TakeFilesOnceShown(std::vector<std::string> files);
    bool TakeFilesFromAnotherCopy(std::vector<std::string> files);
    // The window is on the screen; it is closing (by the window system).
    void Shown() { handOvers_.Shown(); }
    void Closing() { handOvers_.Closing(); }
    void TakeHandOver();
    void cmdMerge_Click();
    void cmdExit_Click();
    // Each zone takes the other's file, as a drop; refused as MERGE + SAVE
    // refuses before both hold one.
    void Swap();
    void Print();
    void SaveAsPdf();
    // Preview: refused until a zone holds a file; then `show` shows the
    // sheet of the files the zones hold.
    void Preview(const std::function<void(const SheetSources&)>& show);
    // A command of the context menu; Preview shows through `show`.
    void Run(MenuCommand command, const std::function<void(const SheetSources&)>& show);
    // Runs `handler` as the window's handlers run.
    void Guarded(const std::function<void()>& handler);

    // What renders and prints; before the first use. Ghostscript is the
    // environment's until told otherwise; there is no spooler until given.
    void UseGhostscript(const Ghostscript& ghostscript) { ghostscript_ = &ghostscript; }
    void UsePrintSpooler(PrintSpooler& spooler) { spooler_ = &spooler; }
    const Ghostscript& ghostscript() const { return *ghostscript_; }

    // The files the zones hold now, for a render of the sheet.
    SheetSources Sources() const;
    // Why the last file given to `zone` was refused, as --check says it
    // ("notes.txt: Sorry only *.PS files"); empty once it accepts one.
    const std::string& Refusal(Zone zone) const { return refusals_[zone == Zone::Top ? 0 : 1]; }
    const MergeState& state() const { return state_; }
    Desktop& desktop() { return desktop_; }

private:
    void Remember(Zone zone, DropVerdict verdict, const std::string& path,
                  const CheckDetail& detail);
    void ShowZone(Zone zone);
    bool Reach(const std::vector<std::string>& paths);
    FormContext Context() { return {state_, files_, desktop_, captions_}; }

    Desktop& desktop_;
    TextFiles& files_;
    InstanceTest& instances_;
    Captions& captions_;
    ZoneViews* views_;
    MergeState state_;
    HandOvers handOvers_;
    std::string lastFolder_;  // of the last file accepted, where the Open dialog starts
    std::string refusals_[2];  // TOP's, BOTTOM's
    std::unique_ptr<Ghostscript> ownGhostscript_;
    const Ghostscript* ghostscript_;
    PrintSpooler* spooler_ = nullptr;
};

}  // namespace a5merge
