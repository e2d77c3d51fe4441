#include "app/form1.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QFontInfo>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include "app/drawing_tooltips.h"
#include "app/drop_frame.h"
#include "app/fonts.h"
#include "app/icon.h"
#include "app/preview_window.h"
#include "ghostscript/ghostscript.h"
#include "ghostscript/sheet_commands.h"
#include "input/drop_zones.h"
#include "input/path_helpers.h"
#include "merge/merge_command.h"
#include "merge/startup.h"
#include "platform/text_files.h"

namespace a5merge {

namespace {

// What the context menu holds, said where the window's design allows: in the
// zones' tooltips and to screen readers.
constexpr const char* kMenuHint =
    "Right click, the Menu key or Shift+F10: Preview, Print, Save as PDF, Swap TOP and BOTTOM";

// Positions and sizes are designed in twips, 15 to a pixel.
constexpr int Px(int twips) { return twips / 15; }

QRect Twips(int left, int top, int width, int height) {
    return {Px(left), Px(top), Px(width), Px(height)};
}

QLabel* MakeLabel(const char* name, const char* caption, QWidget* parent, const QRect& geometry,
                  const QFont& font) {
    auto* label = new QLabel(QString::fromLatin1(caption), parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    label->setFont(font);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QPushButton* MakeButton(const char* name, const char* caption, QWidget* parent,
                        const QRect& geometry) {
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(geometry);
    button->setFocusPolicy(Qt::StrongFocus);
    button->setAutoDefault(true);  // Enter presses the focused button
    return button;
}

DropFrame* MakeFrame(const char* name, QWidget* parent, const QRect& geometry) {
    auto* frame = new DropFrame(QStringLiteral("Drag/Drop"), parent);
    frame->setObjectName(QLatin1String(name));
    frame->setGeometry(geometry);
    return frame;
}

// The widget's own measure of the room its caption needs.
QSize Needed(QWidget* widget) {
    if (qobject_cast<QGroupBox*>(widget) != nullptr) return widget->minimumSizeHint();
    return widget->sizeHint();
}

}  // namespace

Form1::Form1(Desktop& desktop, TextFiles& files, InstanceTest& instances, QWidget* parent)
    : QWidget(parent),
      desktop_(desktop),
      files_(files),
      instances_(instances),
      handOvers_([this] { QTimer::singleShot(0, this, [this] { TakeHandOver(); }); }),
      ownGhostscript_(std::make_unique<Ghostscript>()),
      ghostscript_(ownGhostscript_.get()) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("PS merge"));
    setFont(Tahoma(8.25, false));
    setFixedSize(Px(2415), Px(5025));
    // Fixed in size: no maximise button, which some window managers offer
    // for any window that does not say so.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    // The zones show their drawings also while the preview has the focus.
    setAttribute(Qt::WA_AlwaysShowToolTips);

    lblKorva_ = MakeLabel("lblKorva", "Korvalith Postscript Merge", this,
                          Twips(120, 120, 2295, 255), Tahoma(8.25, true));
    lblA5_ = MakeLabel("lblA5", "2x A5  -->  1x A4", this, Twips(360, 360, 1695, 375),
                       Tahoma(9.75, true));
    frmTop_ = MakeFrame("frmTop", this, Twips(120, 840, 2175, 1335));
    lblTop_ = MakeLabel("lblTop", "TOP", frmTop_, Twips(600, 480, 1095, 495), Tahoma(20.25, true));
    frmBottom_ = MakeFrame("frmBottom", this, Twips(120, 2280, 2175, 1335));
    lblBottom_ = MakeLabel("lblBottom", "BOTTOM", frmBottom_, Twips(120, 480, 1935, 615),
                           Tahoma(20.25, true));
    cmdMerge_ = MakeButton("cmdMerge", "MERGE + SAVE", this, Twips(480, 3840, 1455, 375));
    cmdExit_ = MakeButton("cmdExit", "EXIT", this, Twips(480, 4440, 1455, 375));

    // The zones come after the buttons, so MERGE + SAVE keeps the first place.
    setTabOrder(cmdMerge_, cmdExit_);
    setTabOrder(cmdExit_, frmTop_);
    setTabOrder(frmTop_, frmBottom_);
    cmdMerge_->setFocus();
    Describe();
    ShowTooltip(Zone::Top);
    ShowTooltip(Zone::Bottom);
    // In Tahoma every caption fits as designed; only a stand-in needs fitting.
    if (QFontInfo(font()).family() != QLatin1String("Tahoma")) FitCaptions();

    frmTop_->SetDropHandler([this](const auto& paths) { frmTop_OLEDragDrop(paths); });
    frmBottom_->SetDropHandler([this](const auto& paths) { frmBottom_OLEDragDrop(paths); });
    frmTop_->SetChooseHandler([this] { frmTop_Click(); });
    frmBottom_->SetChooseHandler([this] { frmBottom_Click(); });
    connect(cmdMerge_, &QPushButton::clicked, this, [this] { cmdMerge_Click(); });
    connect(cmdExit_, &QPushButton::clicked, this, [this] { cmdExit_Click(); });

    // What is new lives in the context menu and its shortcuts: the window
    // itself looks and reads as designed.
    contextMenu_ = new QMenu(this);
    contextMenu_->setObjectName(QStringLiteral("contextMenu"));
    contextMenu_->addAction(AddAction("previewAction", "Preview...",
                                      {QKeySequence(QStringLiteral("Ctrl+Shift+P"))},
                                      [this] { Preview(); }));
    contextMenu_->addAction(AddAction(
        "printAction", "Print...", {QKeySequence(QStringLiteral("Ctrl+P"))}, [this] { Print(); }));
    contextMenu_->addAction(AddAction("savePdfAction", "Save as PDF...",
                                      {QKeySequence(QStringLiteral("Ctrl+Shift+S"))},
                                      [this] { SaveAsPdf(); }));
    contextMenu_->addSeparator();
    contextMenu_->addAction(AddAction("swapAction", "Swap TOP and BOTTOM",
                                      {QKeySequence(QStringLiteral("Ctrl+Shift+X"))},
                                      [this] { Swap(); }));
    AddAction("contextMenuKeys", "Context menu",
              {QKeySequence(Qt::Key_Menu), QKeySequence(QStringLiteral("Shift+F10"))}, [this] {
                  QWidget* at = QApplication::focusWidget();
                  if (at == nullptr || at->window() != this) at = this;
                  contextMenu_->popup(at->mapToGlobal(at->rect().center()));
              });
}

// Renders under way stop before the Ghostscript they run goes.
Form1::~Form1() {
    delete preview_;
    delete tooltips_;
}

QAction* Form1::AddAction(const char* name, const char* text, const QList<QKeySequence>& keys,
                          std::function<void()> handler) {
    auto* action = new QAction(QString::fromLatin1(text), this);
    action->setObjectName(QLatin1String(name));
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, this, std::move(handler));
    addAction(action);
    return action;
}

void Form1::contextMenuEvent(QContextMenuEvent* event) {
    contextMenu_->popup(event->globalPos());
    event->accept();
}

SheetSources Form1::Sources() const {
    SheetSources sources;
    if (state_.topOK != 0) sources.top = state_.topFile;
    if (state_.bottomOK != 0) sources.bottom = state_.bottomFile;
    return sources;
}

void Form1::Preview() {
    Guarded([&] {
        if (state_.topOK == 0 && state_.bottomOK == 0) {
            desktop_.MsgBox(kInputsNotCorrect, kMbSystemModal);
            return;
        }
        if (preview_ == nullptr) {
            preview_ = new PreviewWindow(*ghostscript_, this);
            connect(preview_, &PreviewWindow::printRequested, this, [this] { Print(); });
            connect(preview_, &PreviewWindow::saveAsPdfRequested, this, [this] { SaveAsPdf(); });
        }
        preview_->Show(Sources());
    });
}

// Each zone is given the other's file, through the drop procedure.
void Form1::Swap() {
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

void Form1::Print() {
    Guarded([&] {
        FormContext form = Context();
        PrintSheet(form, *ghostscript_, *spooler_);
    });
}

void Form1::SaveAsPdf() {
    Guarded([&] {
        FormContext form = Context();
        SaveSheetAsPdf(form, *ghostscript_);
    });
}

// A zone's tooltip names its file and shows its drawing once rendered.
void Form1::ShowTooltip(Zone zone) {
    const bool top = zone == Zone::Top;
    DropFrame* frame = top ? frmTop_ : frmBottom_;
    const QString hint =
        QStringLiteral("<br><i>") + QLatin1String(kMenuHint) + QStringLiteral("</i>");
    if ((top ? state_.topOK : state_.bottomOK) == 0) {
        frame->setToolTip((top ? QStringLiteral("<b>TOP</b>") : QStringLiteral("<b>BOTTOM</b>")) +
                          QStringLiteral(": drop, paste or click to choose a PostScript file") +
                          hint);
        return;
    }
    if (tooltips_ == nullptr) {
        tooltips_ = new DrawingTooltips(*ghostscript_, devicePixelRatioF(), this);
        connect(tooltips_, &DrawingTooltips::rendered, this, [this](const std::string& path) {
            if (state_.topOK != 0 && state_.topFile == path) ShowTooltip(Zone::Top);
            if (state_.bottomOK != 0 && state_.bottomFile == path) ShowTooltip(Zone::Bottom);
        });
    }
    frame->setToolTip(tooltips_->For(top ? QStringLiteral("TOP") : QStringLiteral("BOTTOM"),
                                     top ? state_.topFile : state_.bottomFile) +
                      hint);
}

void Form1::Load() { Form_Load(state_, desktop_, instances_); }

void Form1::frmTop_OLEDragDrop(const std::vector<std::string>& paths) {
    TakeFiles(Zone::Top, paths);
}

void Form1::frmBottom_OLEDragDrop(const std::vector<std::string>& paths) {
    TakeFiles(Zone::Bottom, paths);
}

void Form1::frmTop_Click() { ChooseFile(Zone::Top); }

void Form1::frmBottom_Click() { ChooseFile(Zone::Bottom); }

void Form1::TakeFiles(Zone zone, const std::vector<std::string>& paths) {
    Guarded([&] {
        FormContext form = Context();
        Remember(zone, DropOnZone(zone, paths, form));
    });
}

void Form1::ChooseFile(Zone zone) {
    Guarded([&] {
        FormContext form = Context();
        Remember(zone, ChooseForZone(zone, form, lastFolder_));
    });
}

// The Open dialog starts where the last file accepted on either zone lies.
// and the zone's tooltip and the preview follow the file accepted.
void Form1::Remember(Zone zone, DropVerdict verdict) {
    if (verdict == DropVerdict::Accepted) {
        lastFolder_ = PathOnly(zone == Zone::Top ? state_.topFile : state_.bottomFile);
        if (lastFolder_.empty()) lastFolder_ = std::string(1, PlatformSeparator());
        ShowTooltip(zone);
        Describe();
        if (preview_ != nullptr) preview_->SetSources(Sources());
    }
}

// After start-up and once the window is on the screen (it has painted, so the
// window manager has placed it): a refusal then shows centred over it.
bool Form1::TakeFilesOnceShown(std::vector<std::string> files) {
    return handOvers_.Add(std::move(files));
}

void Form1::TakeHandOver() {
    const std::optional<std::vector<std::string>> files = handOvers_.TakeNext();
    if (!files) return;
    TakeFiles(Zone::Top, {files->at(0)});
    if (files->size() > 1) TakeFiles(Zone::Bottom, {files->at(1)});
}

void Form1::cmdMerge_Click() {
    Guarded([&] {
        FormContext form = Context();
        a5merge::cmdMerge_Click(
            form, [this](FormContext& inner, const std::string& output, IfExists ifExists) {
                return WriteSheetPdf(inner, *ghostscript_, output, ifExists);
            });
    });
}

void Form1::cmdExit_Click() {
    Guarded([&] {
        if (desktop_.MsgBox("You're sure?", kMbOkCancel | kMbIconQuestion, "Confirmation") ==
            kIdOk) {
            desktop_.End(0);
        }
    });
}

// An exception must not cross Qt's event loop: one that nothing below
// expected is shown, and the window goes on. Files handed over meanwhile
// wait until the handler, and any box it shows, is done.
void Form1::Guarded(const std::function<void()>& handler) {
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

// The icon is painted at every size the window system is offered, which takes
// longer than the rest of the window: it is given once the window shows.
void Form1::paintEvent(QPaintEvent* event) {
    if (!iconGiven_) {
        iconGiven_ = true;
        QTimer::singleShot(0, this, [this] {
            setWindowIcon(AppIcon());
            QApplication::setWindowIcon(AppIcon());
            handOvers_.Shown();
        });
    }
    QWidget::paintEvent(event);
}

void Form1::SetCaption(Label label, const std::string& text) {
    (label == Label::lblTop ? lblTop_ : lblBottom_)->setText(QString::fromStdString(text));
    Describe();
}

// What a screen reader says of each control. A zone's name holds its state
// and its file's name ("TOP drop zone, left.ps"), which screen readers speak
// when it changes; the state is the zone's file, not its label, which MERGE
// + SAVE sets back while the files stay chosen.
void Form1::Describe() {
    const auto zone = [](DropFrame* frame, const char* name, std::int16_t accepted,
                         const std::string& file) {
        const QString state =
            accepted != 0 ? QFile::decodeName(FileOnly(file).c_str()) : QStringLiteral("no file");
        frame->setAccessibleName(QString::fromLatin1(name) + QStringLiteral(", ") + state);
        frame->setAccessibleDescription(
            QStringLiteral("Space or Enter chooses a file; a file can also be dropped or pasted "
                           "here. ") +
            QLatin1String(kMenuHint));
    };
    zone(frmTop_, "TOP drop zone", state_.topOK, state_.topFile);
    zone(frmBottom_, "BOTTOM drop zone", state_.bottomOK, state_.bottomFile);
    cmdMerge_->setAccessibleName(QStringLiteral("Merge and save"));
    cmdMerge_->setAccessibleDescription(
        QStringLiteral("Writes the TOP and BOTTOM files as one A4 sheet, asking where"));
    cmdExit_->setAccessibleName(QStringLiteral("Exit"));
    cmdExit_->setAccessibleDescription(QStringLiteral("Ends the program, after asking"));
}

// With a stand-in for Tahoma the captions may need more room than designed:
// their fonts then shrink until each fits.
void Form1::FitCaptions() {
    for (QWidget* widget : std::initializer_list<QWidget*>{
             lblKorva_, lblA5_, frmTop_, lblTop_, frmBottom_, lblBottom_, cmdMerge_, cmdExit_}) {
        QFont font = widget->font();
        while (font.pointSizeF() > 4.0) {
            const QSize needed = Needed(widget);
            if (needed.width() <= widget->width() && needed.height() <= widget->height()) break;
            font.setPointSizeF(font.pointSizeF() - 0.25);
            widget->setFont(font);
        }
    }
}

}  // namespace a5merge
