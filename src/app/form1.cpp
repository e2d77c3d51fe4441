#include "app/form1.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
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
#include "handlers/form1_design.h"
#include "handlers/sheet_preview.h"
#include "input/drop_zones.h"
#include "input/path_helpers.h"
#include "merge/merge_command.h"
#include "merge/startup.h"
#include "platform/text_files.h"

namespace a5merge {

namespace {

constexpr int Px(int twips) { return twips / kTwipsPerPixel; }

QRect PlaceOf(const ControlDesign& design) {
    return {Px(design.left), Px(design.top), Px(design.width), Px(design.height)};
}

QLabel* MakeLabel(Form1Control id, QWidget* parent) {
    const ControlDesign& design = DesignOf(id);
    auto* label = new QLabel(QString::fromLatin1(design.caption), parent);
    label->setObjectName(QLatin1String(design.name));
    label->setGeometry(PlaceOf(design));
    label->setFont(Tahoma(design.font.points, design.font.bold));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QPushButton* MakeButton(Form1Control id, QWidget* parent) {
    const ControlDesign& design = DesignOf(id);
    auto* button = new QPushButton(QString::fromLatin1(design.caption), parent);
    button->setObjectName(QLatin1String(design.name));
    button->setGeometry(PlaceOf(design));
    button->setFocusPolicy(Qt::StrongFocus);
    button->setAutoDefault(true);  // Enter presses the focused button
    return button;
}

DropFrame* MakeFrame(Form1Control id, QWidget* parent) {
    const ControlDesign& design = DesignOf(id);
    auto* frame = new DropFrame(QString::fromLatin1(design.caption), parent);
    frame->setObjectName(QLatin1String(design.name));
    frame->setGeometry(PlaceOf(design));
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
      handlers_(
          desktop, files, instances, *this,
          [this] { QTimer::singleShot(0, this, [this] { handlers_.TakeHandOver(); }); }, this) {
    handlers_.UsePrintSpooler(ownSpooler_);
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("PS merge"));
    setFont(Tahoma(kForm1Font.points, kForm1Font.bold));
    setFixedSize(Px(kForm1Width), Px(kForm1Height));
    // Fixed in size: no maximise button, which some window managers offer
    // for any window that does not say so.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    // The zones show their drawings also while the preview has the focus.
    setAttribute(Qt::WA_AlwaysShowToolTips);

    using C = Form1Control;
    lblKorva_ = MakeLabel(C::lblKorva, this);
    lblA5_ = MakeLabel(C::lblA5, this);
    frmTop_ = MakeFrame(C::frmTop, this);
    lblTop_ = MakeLabel(C::lblTop, frmTop_);
    frmBottom_ = MakeFrame(C::frmBottom, this);
    lblBottom_ = MakeLabel(C::lblBottom, frmBottom_);
    cmdMerge_ = MakeButton(C::cmdMerge, this);
    cmdExit_ = MakeButton(C::cmdExit, this);

    // The zones come after the buttons, so MERGE + SAVE keeps the first place.
    setTabOrder(cmdMerge_, cmdExit_);
    setTabOrder(cmdExit_, frmTop_);
    setTabOrder(frmTop_, frmBottom_);
    cmdMerge_->setFocus();
    Describe();
    ShowTip(Zone::Top);
    ShowTip(Zone::Bottom);
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
    for (const MenuItem& item : kMenuItems) {
        if (item.separatorBefore) contextMenu_->addSeparator();
        contextMenu_->addAction(
            AddAction((std::string(item.name) + "Action").c_str(), item.text,
                      {QKeySequence(QString::fromStdString(ShortcutText(item)))},
                      [this, command = item.command] { Run(command); }));
    }
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

void Form1::Run(MenuCommand command) {
    handlers_.Run(command, [this](const SheetSources& sources) {
        if (preview_ == nullptr) {
            preview_ = new PreviewWindow(handlers_.ghostscript(), this);
            connect(preview_, &PreviewWindow::printRequested, this, [this] { Print(); });
            connect(preview_, &PreviewWindow::saveAsPdfRequested, this, [this] { SaveAsPdf(); });
        }
        preview_->Show(sources);
    });
}

void Form1::Preview() { Run(MenuCommand::Preview); }

void Form1::Swap() { Run(MenuCommand::Swap); }

void Form1::Print() { Run(MenuCommand::Print); }

void Form1::SaveAsPdf() { Run(MenuCommand::SaveAsPdf); }

// A zone's tooltip names its file and shows its drawing once rendered.
void Form1::ShowTip(Zone zone) {
    const bool top = zone == Zone::Top;
    DropFrame* frame = top ? frmTop_ : frmBottom_;
    // Why the last file given to it was refused, until it takes one.
    const std::string& refusal = handlers_.Refusal(zone);
    const QString hint =
        (refusal.empty()
             ? QString()
             : QStringLiteral("<br>Refused ") + QString::fromStdString(refusal).toHtmlEscaped()) +
        QStringLiteral("<br><i>") + QLatin1String(kMenuHint) + QStringLiteral("</i>");
    const MergeState& state = this->state();
    if ((top ? state.topOK : state.bottomOK) == 0) {
        frame->setToolTip((top ? QStringLiteral("<b>TOP</b>") : QStringLiteral("<b>BOTTOM</b>")) +
                          QStringLiteral(": drop, paste or click to choose a PostScript file") +
                          hint);
        return;
    }
    if (tooltips_ == nullptr) {
        tooltips_ = new DrawingTooltips(handlers_.ghostscript(), devicePixelRatioF(), this);
        connect(tooltips_, &DrawingTooltips::rendered, this, [this](const std::string& path) {
            const MergeState& now = this->state();
            if (now.topOK != 0 && now.topFile == path) ShowTip(Zone::Top);
            if (now.bottomOK != 0 && now.bottomFile == path) ShowTip(Zone::Bottom);
        });
    }
    frame->setToolTip(tooltips_->For(top ? QStringLiteral("TOP") : QStringLiteral("BOTTOM"),
                                     top ? state.topFile : state.bottomFile) +
                      hint);
}

void Form1::Load() { handlers_.Load(); }

void Form1::frmTop_OLEDragDrop(const std::vector<std::string>& paths) {
    handlers_.TakeFiles(Zone::Top, paths);
}

void Form1::frmBottom_OLEDragDrop(const std::vector<std::string>& paths) {
    handlers_.TakeFiles(Zone::Bottom, paths);
}

void Form1::frmTop_Click() { handlers_.ChooseFile(Zone::Top); }

void Form1::frmBottom_Click() { handlers_.ChooseFile(Zone::Bottom); }

void Form1::ShowSheetOf(const SheetSources& sources) {
    if (preview_ != nullptr) preview_->SetSources(sources);
}

// After start-up and once the window is on the screen (it has painted, so the
// window manager has placed it): a refusal then shows centred over it.
bool Form1::TakeFilesOnceShown(std::vector<std::string> files) {
    return handlers_.TakeFilesOnceShown(std::move(files));
}

bool Form1::TakeFilesFromAnotherCopy(std::vector<std::string> files) {
    return handlers_.TakeFilesFromAnotherCopy(std::move(files));
}

// Closed by the window system: no file handed over from now on is taken.
void Form1::closeEvent(QCloseEvent* event) {
    handlers_.Closing();
    QWidget::closeEvent(event);
}

void Form1::cmdMerge_Click() { handlers_.cmdMerge_Click(); }

void Form1::cmdExit_Click() { handlers_.cmdExit_Click(); }

// The icon is painted at every size the window system is offered, which takes
// longer than the rest of the window: it is given once the window shows.
void Form1::paintEvent(QPaintEvent* event) {
    if (!iconGiven_) {
        iconGiven_ = true;
        QTimer::singleShot(0, this, [this] {
            setWindowIcon(AppIcon());
            QApplication::setWindowIcon(AppIcon());
            handlers_.Shown();
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
    for (const auto& [frame, zone] : {std::pair{frmTop_, Zone::Top}, {frmBottom_, Zone::Bottom}}) {
        frame->setAccessibleName(QFile::decodeName(ZoneAccessibleName(zone, state()).c_str()));
        frame->setAccessibleDescription(QLatin1String(kZoneAccessibleHelp) +
                                        QLatin1String(kMenuHint));
    }
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
        const auto setPoints = [&](double points) {
            if (points == font.pointSizeF()) return;
            font.setPointSizeF(points);
            widget->setFont(font);
        };
        setPoints(FittedPoints(font.pointSizeF(), [&](double points) {
            setPoints(points);
            const QSize needed = Needed(widget);
            return needed.width() <= widget->width() && needed.height() <= widget->height();
        }));
    }
}

}  // namespace a5merge
