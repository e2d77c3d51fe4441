#pragma once

#include <windows.h>

#include <shellapi.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "handlers/form1_design.h"
#include "handlers/form_handlers.h"
#include "state/captions.h"
#include "win32/drawing_tip.h"
#include "win32/gdi_printer.h"
#include "win32/preview_win32.h"
#include "win32/window_support.h"

namespace a5merge {

class Desktop;
class InstanceTest;
class TextFiles;

// The program's one window on Windows, drawn with the system's own controls
// at the design's places and fonts (twips scaled to its monitor's DPI, laid
// out again when that changes): two
// drop zones, MERGE + SAVE and EXIT. What its handlers do is FormHandlers'.
// A zone is a button (named with its state and file for screen readers): a
// click, Space or Enter opens its Open dialog; it takes a drop of files and
// a paste (Ctrl+V, Shift+Insert) of files or a path; its tooltip shows its
// drawing. A right click, the Menu key or Shift+F10 give the context menu:
// Preview, Print, Save as PDF, Swap TOP and BOTTOM, each with its shortcut.
class Win32Form1 : private Captions, private ZoneViews {
public:
    // The controls, as the design has them (zones after the buttons in the
    // Tab order); their identifiers follow its order from kFirstControlId.
    using Control = Form1Control;
    using enum Form1Control;
    static constexpr int kFirstControlId = 101;
    static constexpr int IdOf(Control id) { return kFirstControlId + static_cast<int>(id); }
    // The context menu's items are numbered from here, in kMenuItems' order.
    static constexpr int kFirstMenuItem = 301;
    static constexpr const wchar_t* kClassName = L"a5merge.Form1";
    // WM_COPYDATA's dwData for files handed over by a second copy.
    static constexpr ULONG_PTR kHandOverTag = 0xA5A5'0001;

    Win32Form1(Desktop& desktop, TextFiles& files, InstanceTest& instances);
    ~Win32Form1();
    Win32Form1(const Win32Form1&) = delete;
    Win32Form1& operator=(const Win32Form1&) = delete;

    // Runs start-up; once, before the window is first shown. `lastError`:
    // what the box says after its text should another copy run.
    void Load(const std::string& lastError = {}) { handlers_.Load(lastError); }
    // Shows the window; files handed over are taken from then on.
    void Show(int showCommand);
    bool TakeFilesOnceShown(std::vector<std::string> files) {
        return handlers_.TakeFilesOnceShown(std::move(files));
    }
    // Runs the window's messages until it is closed; the program's status.
    int RunMessages();
    // The window's shortcut a key message is, taken: Ctrl+Shift+P, Ctrl+P,
    // Ctrl+Shift+S and Ctrl+Shift+X run the context menu's commands, the
    // Menu key and Shift+F10 open it; the preview's own keys. False for any
    // other message.
    bool Shortcut(MSG& message);

    // A command of the context menu.
    void Run(MenuCommand command);
    // Runs `work` on the window's thread, from any thread (the window's
    // loop, or a busy box's, runs it), and returns once it has run.
    void RunOnWindowThread(const std::function<void()>& work);
    // Shows the context menu at `at` (screen), or below the control with
    // the focus when `at` is (-1, -1), and runs the command chosen.
    void ShowMenu(POINT at);
    // The zone's tooltip, shown below `at` (screen); none while the menu is open.
    void ShowTip(Zone zone, POINT at);

    HWND window() const { return window_; }
    // A control by its identifier (the zones' labels inside their zone).
    HWND control(Control id) const;
    FormHandlers& handlers() { return handlers_; }
    // The preview (once made) and the zones' tooltip.
    Win32PreviewWindow* preview() const { return preview_.get(); }
    DrawingTip& tip() { return *tip_; }
    const MergeState& state() const { return handlers_.state(); }
    // Pixels for `twips` at the window's DPI.
    int Pixels(int twips) const { return ::MulDiv(twips, dpi_, 1440); }

    // The files of a WM_DROPFILES block, of the clipboard (files copied in
    // Explorer, or a path as text), and of a hand-over (one or two names of
    // files, drive-letter or UNC paths, or nothing when it is not one).
    static std::vector<std::string> DroppedFiles(HDROP drop);
    static std::vector<std::string> ClipboardFiles(HWND owner);
    static std::optional<std::vector<std::string>> HandedOver(const COPYDATASTRUCT& data);
    // The block a second copy sends for `files`.
    static std::string HandOverBlock(const std::vector<std::string>& files);

private:
    static LRESULT CALLBACK FormProcedure(HWND window, UINT message, WPARAM w, LPARAM l);
    static LRESULT CALLBACK ZoneProcedure(HWND zone, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                          DWORD_PTR form);
    LRESULT OnFormMessage(UINT message, WPARAM w, LPARAM l);
    LRESULT OnZoneMessage(HWND zone, UINT message, WPARAM w, LPARAM l);
    void DrawZone(const DRAWITEMSTRUCT& item);
    void Create();
    HWND MakeControl(const wchar_t* kind, DWORD style, Control id, HWND parent);
    void MakeFonts();
    void LayOut();
    void ApplyDpi(int dpi, const RECT* suggested);
    void FitText(HWND label, FontHolder& font, DesignFont design);
    void SetCaption(Label label, const std::string& text) override;
    void ShowTip(Zone zone) override;
    void Describe() override;
    void ShowSheetOf(const SheetSources& sources) override;
    bool CommandKey(const MSG& message);
    Zone ZoneOf(HWND zone) const { return zone == control(frmTop) ? Zone::Top : Zone::Bottom; }

    FormHandlers handlers_;
    HWND window_ = nullptr;
    int dpi_ = 96;
    FontHolder windowFont_;
    FontHolder titleFont_;
    FontHolder subtitleFont_;
    FontHolder zoneFont_;
    HICON icon_ = nullptr;
    HWND lastFocus_ = nullptr;  // while another window is active
    FontHolder tipFont_;
    GdiPrinter printer_;
    WindowQueue posted_;           // results of background work, run by the window
    std::optional<Zone> tipZone_;  // whose tooltip shows
    bool menuOpen_ = false;
    std::unique_ptr<DrawingTip> tip_;              // these two go first: their work
    std::unique_ptr<Win32PreviewWindow> preview_;  // ends before the rest goes
};

}  // namespace a5merge
