#pragma once

#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ghostscript/sheet_output.h"
#include "handlers/form_handlers.h"
#include "input/drop_zones.h"
#include "platform/desktop.h"
#include "platform/print_spooler.h"
#include "state/captions.h"
#include "state/form_context.h"
#include "state/merge_state.h"

class QAction;
class QLabel;
class QMenu;
class QPushButton;

namespace a5merge {

class DrawingTooltips;
class DropFrame;
class Ghostscript;
class InstanceTest;
class PreviewWindow;
class TextFiles;

// The program's one window: two drop zones, MERGE + SAVE and EXIT. It owns
// the MergeState for the life of the program. Its context menu (right click,
// the Menu key, Shift+F10) and shortcuts reach the preview, printing and
// the PDF; each zone's tooltip shows the drawing it holds.
class Form1 : public QWidget, private Captions, private ZoneViews {
    Q_OBJECT

public:
    Form1(Desktop& desktop, TextFiles& files, InstanceTest& instances, QWidget* parent = nullptr);
    ~Form1() override;

    // Runs start-up; call once before the window is first shown.
    void Load();

    void frmTop_OLEDragDrop(const std::vector<std::string>& paths);
    void frmBottom_OLEDragDrop(const std::vector<std::string>& paths);
    // A click, Space or Enter on a zone: its Open dialog.
    void frmTop_Click();
    void frmBottom_Click();
    // Files handed over from outside (the command line, a second copy), as
    // FormHandlers takes them.
    bool TakeFilesOnceShown(std::vector<std::string> files);
    bool TakeFilesFromAnotherCopy(std::vector<std::string> files);
    void cmdMerge_Click();
    void cmdExit_Click();
    // "Preview..." (Ctrl+Shift+P), "Print..." (Ctrl+P), "Save as PDF..."
    // (Ctrl+Shift+S). Before both zones hold a file they answer as MERGE +
    // SAVE does; the preview shows the one half that is there.
    void Preview();
    void Print();
    void SaveAsPdf();
    // "Swap TOP and BOTTOM" (Ctrl+Shift+X): each zone takes the other's
    // file, as a drop; refused as MERGE + SAVE refuses before both hold one.
    void Swap();
    // A command of the context menu.
    void Run(MenuCommand command);

    // What renders and prints; before the first use. The window's own are
    // Ghostscript as the environment sets it and the system's CUPS.
    void UseGhostscript(const Ghostscript& ghostscript) { handlers_.UseGhostscript(ghostscript); }
    void UsePrintSpooler(PrintSpooler& spooler) { handlers_.UsePrintSpooler(spooler); }

    const MergeState& state() const { return handlers_.state(); }
    PreviewWindow* preview() const { return preview_; }
    QMenu* contextMenu() const { return contextMenu_; }
    DrawingTooltips* tooltips() const { return tooltips_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void SetCaption(Label label, const std::string& text) override;
    void FitCaptions();
    void ShowTip(Zone zone) override;
    void Describe() override;
    void ShowSheetOf(const SheetSources& sources) override;
    QAction* AddAction(const char* name, const char* text, const QList<QKeySequence>& keys,
                       std::function<void()> handler);

    SystemSpooler ownSpooler_;
    FormHandlers handlers_;
    bool iconGiven_ = false;  // once the window has painted
    PreviewWindow* preview_ = nullptr;     // made when first asked for
    DrawingTooltips* tooltips_ = nullptr;  // made when a zone first accepts
    QMenu* contextMenu_;

    QLabel* lblKorva_;
    QLabel* lblA5_;
    DropFrame* frmTop_;
    QLabel* lblTop_;
    DropFrame* frmBottom_;
    QLabel* lblBottom_;
    QPushButton* cmdMerge_;
    QPushButton* cmdExit_;
};

}  // namespace a5merge
