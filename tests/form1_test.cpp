#include "app/form1.h"
#include "app/qt_options.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocalSocket>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include <memory>

#include <gtest/gtest.h>

#include "handlers/command_line.h"
#include "app/drawing_tooltips.h"
#include "app/drop_frame.h"
#include "app/file_channel.h"
#include "app/fonts.h"
#include "app/preview_window.h"
#include "app/qt_desktop.h"
#include "ghostscript/ghostscript.h"
#include "ghostscript/raster.h"
#include "platform/single_instance.h"
#include "platform/text_files.h"
#include "support/fake_desktop.h"
#include "support/fake_form.h"
#include "support/private_cups.h"
#include "support/ps_samples.h"
#include "support/run_process.h"
#include "support/temp_folder.h"

namespace a5merge {
namespace {

using testing::AcceptedInput;
using testing::FakeDesktop;
using testing::ProgramEnded;
using testing::ReadBytes;
using testing::TempFolder;

using testing::TestData;

using testing::ScriptedInstances;

// Runs `step` on the first modal widget of type T to show up.
template <typename T>
void WhenModal(std::function<void(T*)> step) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, step] {
        if (auto* widget = qobject_cast<T*>(QApplication::activeModalWidget());
            widget != nullptr && widget->isVisible()) {
            timer->stop();
            timer->deleteLater();
            step(widget);
        }
    });
    timer->start(10);
}

bool TahomaAvailable() { return QFontDatabase::hasFamily(QStringLiteral("Tahoma")); }

class Form1Test : public ::testing::Test {
protected:
    static void SetUpTestSuite() { tahomaIds = RegisterTahoma(); }

    static inline QList<int> tahomaIds;  // what this suite registered

    void SetUp() override {
        form = std::make_unique<Form1>(desktop, files, firstCopy);
        form->Load();
    }

    template <typename T>
    T* Control(const char* name) {
        T* control = form->findChild<T*>(QLatin1String(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }

    void ShowActive() {
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }

    TextFiles files;
    FakeDesktop desktop;
    ScriptedInstances firstCopy{false};
    std::unique_ptr<Form1> form;
};

struct ControlRow {
    const char* name;
    const char* kind;
    const char* parent;
    const char* caption;
    int left, top, width, height;  // twips
    double points;
    bool bold;
};

const ControlRow kControls[] = {
    {"lblKorva", "QLabel", "Form1", "Korvalith Postscript Merge", 120, 120, 2295, 255, 8.25, true},
    {"lblA5", "QLabel", "Form1", "2x A5  -->  1x A4", 360, 360, 1695, 375, 9.75, true},
    {"frmTop", "QGroupBox", "Form1", "Drag/Drop", 120, 840, 2175, 1335, 8.25, false},
    {"lblTop", "QLabel", "frmTop", "TOP", 600, 480, 1095, 495, 20.25, true},
    {"frmBottom", "QGroupBox", "Form1", "Drag/Drop", 120, 2280, 2175, 1335, 8.25, false},
    {"lblBottom", "QLabel", "frmBottom", "BOTTOM", 120, 480, 1935, 615, 20.25, true},
    {"cmdMerge", "QPushButton", "Form1", "MERGE + SAVE", 480, 3840, 1455, 375, 8.25, false},
    {"cmdExit", "QPushButton", "Form1", "EXIT", 480, 4440, 1455, 375, 8.25, false},
};

QString Caption(QWidget* widget) {
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    if (auto* box = qobject_cast<QGroupBox*>(widget)) return box->title();
    if (auto* button = qobject_cast<QPushButton*>(widget)) return button->text();
    return {};
}

TEST_F(Form1Test, WindowHoldsExactlyTheDesignedControls) {
    if (!TahomaAvailable()) GTEST_SKIP() << "no Tahoma (Debian package fonts-wine)";
    EXPECT_EQ(form->windowTitle(), "PS merge");
    EXPECT_EQ(form->size(), QSize(161, 335));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_EQ(QFontInfo(form->font()).family(), "Tahoma");
    EXPECT_EQ(form->font().pointSizeF(), 8.25);
    EXPECT_EQ(form->findChildren<QMenuBar*>().size(), 0);

    for (const auto& row : kControls) {
        SCOPED_TRACE(row.name);
        auto* widget = Control<QWidget>(row.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_TRUE(widget->inherits(row.kind));
        EXPECT_EQ(widget->parentWidget()->objectName(), row.parent);
        EXPECT_EQ(Caption(widget), row.caption);
        EXPECT_EQ(widget->geometry(),
                  QRect(row.left / 15, row.top / 15, row.width / 15, row.height / 15));
        const QFontInfo font(widget->font());
        EXPECT_EQ(font.family(), "Tahoma");
        EXPECT_EQ(widget->font().pointSizeF(), row.points);
        EXPECT_EQ(font.weight(), row.bold ? 700 : 400);
        EXPECT_FALSE(font.italic() || font.underline() || font.strikeOut());
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            EXPECT_EQ(label->alignment(), Qt::AlignLeft | Qt::AlignTop);
            EXPECT_FALSE(label->wordWrap());
        }
    }
    const auto named = [](const auto& list) {
        int n = 0;
        for (auto* w : list) n += !w->objectName().isEmpty();
        return n;
    };
    EXPECT_EQ(named(form->findChildren<QLabel*>()), 4);
    EXPECT_EQ(named(form->findChildren<QGroupBox*>()), 2);
    EXPECT_EQ(named(form->findChildren<QPushButton*>()), 2);
}

// Each caption fits its control, by the measures Qt itself uses.
void ExpectCaptionsFit(Form1& form) {
    form.show();
    for (const auto& row : kControls) {
        auto* widget = form.findChild<QWidget*>(QLatin1String(row.name));
        ASSERT_NE(widget, nullptr);
        SCOPED_TRACE(std::string(row.name) + " in " +
                     QFontInfo(widget->font()).family().toStdString());
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            const QFontMetrics metrics(label->font());
            EXPECT_LE(metrics.horizontalAdvance(label->text()), label->width());
            EXPECT_LE(metrics.height(), label->height());
        } else if (qobject_cast<QGroupBox*>(widget) != nullptr) {
            EXPECT_LE(widget->minimumSizeHint().width(), widget->width());
        } else {
            EXPECT_LE(widget->sizeHint().width(), widget->width());
            EXPECT_LE(QFontMetrics(widget->font()).height(), widget->height());
        }
    }
}

// The ink of `widget` as drawn, on white.
double Ink(QWidget& widget) {
    QImage image = widget.grab().toImage();
    double ink = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) ink += 255 - qGray(image.pixel(x, y));
    }
    return ink;
}

// Bold captions carry the ink of bold: about 1.4 times that of the same text
// in the regular weight at the same size (Wine's bold face draws regular).
TEST_F(Form1Test, BoldCaptionsAreDrawnBold) {
    if (!TahomaAvailable()) GTEST_SKIP() << "no Tahoma (Debian package fonts-wine)";
    for (const char* name : {"lblKorva", "lblA5", "lblTop", "lblBottom"}) {
        const QLabel* bold = Control<QLabel>(name);
        // The caption alone, on white, in the given weight.
        const auto copyIn = [bold](QFont::Weight weight) {
            auto copy = std::make_unique<QLabel>(bold->text());
            QFont font = bold->font();
            font.setWeight(weight);
            copy->setFont(font);
            copy->setAlignment(bold->alignment());
            copy->resize(bold->size());
            QPalette white = copy->palette();
            white.setColor(QPalette::Window, Qt::white);
            copy->setPalette(white);
            copy->setAutoFillBackground(true);
            return copy;
        };
        EXPECT_GT(Ink(*copyIn(bold->font().weight())) / Ink(*copyIn(QFont::Normal)), 1.3) << name;
    }
}

TEST_F(Form1Test, NoCaptionIsCutOffInTahoma) {
    if (!TahomaAvailable()) GTEST_SKIP() << "no Tahoma (Debian package fonts-wine)";
    ExpectCaptionsFit(*form);
}

TEST_F(Form1Test, NoCaptionIsCutOffWithoutTahoma) {
    // Take away what the suite registered, then put it back.
    for (int id : tahomaIds) QFontDatabase::removeApplicationFont(id);
    tahomaIds.clear();
    if (TahomaAvailable()) GTEST_SKIP() << "Tahoma is installed system-wide";
    Form1 fallback(desktop, files, firstCopy);
    EXPECT_NE(QFontInfo(fallback.font()).family(), "Tahoma");
    ExpectCaptionsFit(fallback);
    tahomaIds = RegisterTahoma();
    EXPECT_TRUE(TahomaAvailable());
}

TEST_F(Form1Test, ButtonsThenZonesTakeTheFocusMergeFirst) {
    ShowActive();
    EXPECT_EQ(QApplication::focusWidget(), Control<QPushButton>("cmdMerge"));
    const std::vector<std::string> takers = {"cmdMerge", "cmdExit", "frmTop", "frmBottom"};
    for (const auto& row : kControls) {
        const bool taker = std::find(takers.begin(), takers.end(), row.name) != takers.end();
        EXPECT_EQ(Control<QWidget>(row.name)->focusPolicy() == Qt::NoFocus, !taker) << row.name;
    }
    for (const char* next : {"cmdExit", "frmTop", "frmBottom", "cmdMerge"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), Control<QWidget>(next)) << next;
    }
}

TEST_F(Form1Test, EnterPressesTheFocusedButtonEscapeNothing) {
    ShowActive();
    QTest::keyClick(form.get(), Qt::Key_Escape);
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_TRUE(form->isVisible());

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(desktop.Texts(), std::vector<std::string>{"Sorry input *.PS files not correct"});

    Control<QPushButton>("cmdExit")->setFocus();
    desktop.answers = {kIdCancel};
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(desktop.Texts(),
              (std::vector<std::string>{"Sorry input *.PS files not correct", "You're sure?"}));
}

TEST_F(Form1Test, ExitAsksAndCancelChangesNothing) {
    ShowActive();
    desktop.answers = {kIdCancel};
    QTest::mouseClick(Control<QPushButton>("cmdExit"), Qt::LeftButton);
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].text, "You're sure?");
    EXPECT_EQ(desktop.boxes[0].style, 33);
    EXPECT_EQ(desktop.boxes[0].title, "Confirmation");
    EXPECT_FALSE(desktop.ended.has_value());
    EXPECT_TRUE(form->isVisible());
}

TEST_F(Form1Test, ExitWithOkEndsTheProgram) {
    desktop.answers = {kIdOk};
    EXPECT_THROW(form->cmdExit_Click(), ProgramEnded);
    EXPECT_EQ(desktop.ended, 0);
}

TEST_F(Form1Test, AnUnexpectedFailureIsShownNotThrownThroughQt) {
    struct BrokenDialog : FakeDesktop {
        std::optional<std::string> SaveAs(const SaveDialog&) override {
            throw std::runtime_error("dialog broke");
        }
    } broken;
    Form1 window(broken, files, firstCopy);
    window.Load();
    TempFolder dir;
    window.frmTop_OLEDragDrop({dir.Write("left.ps", AcceptedInput())});
    window.frmBottom_OLEDragDrop({dir.Write("right.ps", AcceptedInput())});
    window.cmdMerge_Click();
    EXPECT_EQ(broken.Texts(), std::vector<std::string>{"dialog broke"});
}

// Every box and dialog opens centred over the window; when it closes, the
// window is active again and the control that had the focus has it back.
// A fixed window offers no maximise button.
TEST_F(Form1Test, BoxesAreCentredAndTheFocusComesBack) {
    QtDesktop real(QStringLiteral("PS merge"));
    Form1 window(real, files, firstCopy);
    real.SetWindow(&window);
    window.Load();
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    auto* frmBottom = window.findChild<QWidget*>(QStringLiteral("frmBottom"));
    for (int turn = 0; turn < 2; ++turn) {
        frmBottom->setFocus();
        QPoint centre;
        if (turn == 0) {
            WhenModal<QMessageBox>([&](QMessageBox* box) {
                centre = box->frameGeometry().center();
                box->accept();
            });
            real.MsgBox("Sorry only *.PS files", kMbSystemModal);
        } else {
            WhenModal<QFileDialog>([&](QFileDialog* dialog) {
                centre = dialog->frameGeometry().center();
                dialog->reject();
            });
            real.OpenFile({"TOP file", "Postscript files (*.ps)|*.ps", ""});
        }
        SCOPED_TRACE(turn == 0 ? "a box" : "the Open dialog");
        EXPECT_LE((centre - window.frameGeometry().center()).manhattanLength(), 4);
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.isActiveWindow(); }));
        EXPECT_EQ(QApplication::focusWidget(), frmBottom);
    }
}

TEST_F(Form1Test, ClosingTheWindowAsksNothing) {
    ShowActive();
    EXPECT_TRUE(form->close());
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(Form1Test, WindowHasItsOwnIcon) {
    ShowActive();  // given once the window has shown
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->windowIcon().isNull(); }));
    const QList<QSize> sizes = form->windowIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    EXPECT_TRUE(sizes.contains(QSize(256, 256)));
    // The sheet is drawn: white paper in the middle, transparent corners.
    const QImage image = form->windowIcon().pixmap(32, 32).toImage();
    EXPECT_EQ(image.pixelColor(23, 3), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
}

TEST(Form1StartTest, SecondCopyWarnsAndNeverShowsItsWindow) {
    TextFiles files;
    FakeDesktop desktop;
    ScriptedInstances running(true);
    Form1 form(desktop, files, running);
    EXPECT_THROW(form.Load(), ProgramEnded);
    EXPECT_EQ(desktop.Texts(),
              std::vector<std::string>{"The application is already running!!! \r"});
    EXPECT_FALSE(form.isVisible());
}

// Drags `data` over the window to `pos` and releases it there, through the
// window system's own delivery. Returns whether the drop was accepted.
bool DropAt(QWidget& window, QPoint pos, const QMimeData& data) {
    QWindow* handle = window.windowHandle();
    QDragEnterEvent enter(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &enter);
    QDragMoveEvent move(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &move);
    if (!move.isAccepted()) {  // the source then leaves instead of dropping
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(handle, &leave);
        return false;
    }
    QDropEvent drop(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &drop);
    return drop.isAccepted();
}

QMimeData* FilesData(const std::vector<std::string>& paths) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const auto& p : paths) urls.append(QUrl::fromLocalFile(QString::fromStdString(p)));
    data->setUrls(urls);
    return data;
}

TEST_F(Form1Test, DropsReachTheFrameBeneath) {
    ShowActive();
    TempFolder dir;
    const std::string path = dir.Write("left.ps", AcceptedInput());
    std::unique_ptr<QMimeData> data(FilesData({path}));

    struct Case {
        const char* target;  // control under the drop
        QPoint offset;       // from its top-left corner
        const char* zone;    // frame whose handler gets it; nullptr: none
    };
    const Case cases[] = {
        {"frmTop", {4, 70}, "frmTop"},         {"lblTop", {10, 10}, "frmTop"},
        {"frmBottom", {140, 80}, "frmBottom"}, {"lblBottom", {10, 10}, "frmBottom"},
        {"lblKorva", {5, 5}, nullptr},         {"lblA5", {5, 5}, nullptr},
        {"cmdMerge", {5, 5}, nullptr},         {"cmdExit", {5, 5}, nullptr},
        {"Form1", {2, 250}, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        TextFiles caseFiles;
        FakeDesktop caseDesktop;
        Form1 window(caseDesktop, caseFiles, firstCopy);
        window.Load();
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QWidget* target = c.target == std::string("Form1")
                              ? &window
                              : window.findChild<QWidget*>(QLatin1String(c.target));
        ASSERT_NE(target, nullptr);
        const QPoint pos = target->mapTo(&window, c.offset);
        ASSERT_EQ(window.childAt(pos) == nullptr ? &window : window.childAt(pos), target);

        EXPECT_EQ(DropAt(window, pos, *data), c.zone != nullptr);
        const std::string zone = c.zone == nullptr ? "" : c.zone;
        EXPECT_EQ(window.state().topFile, zone == "frmTop" ? path : "");
        EXPECT_EQ(window.state().bottomFile, zone == "frmBottom" ? path : "");
        EXPECT_TRUE(caseDesktop.boxes.empty());
    }
}

TEST_F(Form1Test, AcceptedDropsShowOkInTheirLabels) {
    ShowActive();
    TempFolder dir;
    std::unique_ptr<QMimeData> top(FilesData({dir.Write("left.ps", AcceptedInput())}));
    std::unique_ptr<QMimeData> bottom(FilesData({dir.Write("right.ps", AcceptedInput())}));
    auto* lblTop = Control<QLabel>("lblTop");
    auto* lblBottom = Control<QLabel>("lblBottom");
    DropAt(*form, lblTop->mapTo(form.get(), QPoint(5, 5)), *top);
    EXPECT_EQ(lblTop->text(), "OK");
    EXPECT_EQ(lblBottom->text(), "BOTTOM");
    DropAt(*form, lblBottom->mapTo(form.get(), QPoint(5, 5)), *bottom);
    EXPECT_EQ(lblBottom->text(), "    OK");

    std::unique_ptr<QMimeData> notes(FilesData({dir.Write("notes.txt", "x")}));
    DropAt(*form, lblTop->mapTo(form.get(), QPoint(5, 5)), *notes);
    EXPECT_EQ(desktop.Texts(), std::vector<std::string>{"Sorry only *.PS files"});
    EXPECT_EQ(lblTop->text(), "OK");
}

TEST_F(Form1Test, TextAndWebLinksAreNotTakenAtAll) {
    ShowActive();
    const QPoint onTop = Control<QWidget>("lblTop")->mapTo(form.get(), QPoint(5, 5));
    QMimeData text;
    text.setText(QStringLiteral("/tmp/left.ps"));
    QMimeData link;
    link.setUrls({QUrl(QStringLiteral("https://example.org/left.ps"))});
    EXPECT_FALSE(DropAt(*form, onTop, text));
    EXPECT_FALSE(DropAt(*form, onTop, link));
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_EQ(form->state().topFile, "");
}

// Choosing a file with a zone's Open dialog, by a click on the zone or on its
// label: the file takes the drop's road, the dialog starts where the last
// accepted file lies (first at home), Cancel and refusals change nothing, and
// a click gives the zone the focus, as it does to a button.
TEST_F(Form1Test, AClickOnAZoneOpensItsDialog) {
    ShowActive();
    TempFolder dir;
    const std::string top = dir.Write("left.ps", AcceptedInput());
    desktop.openAnswers = {top, std::nullopt, dir.Write("notes.txt", "x"),
                           dir.Write("right.ps", AcceptedInput())};
    auto* frmTop = Control<QWidget>("frmTop");
    QTest::mouseClick(frmTop, Qt::LeftButton, {}, QPoint(5, 60));
    EXPECT_EQ(form->state().topFile, top);
    EXPECT_EQ(Control<QLabel>("lblTop")->text(), "OK");
    EXPECT_EQ(frmTop->accessibleName(), "TOP drop zone, left.ps");
    EXPECT_EQ(QApplication::focusWidget(), frmTop);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), Control<QWidget>("frmBottom"));

    auto* lblBottom = Control<QWidget>("lblBottom");
    for (int click = 0; click < 3; ++click) QTest::mouseClick(lblBottom, Qt::LeftButton);
    ASSERT_EQ(desktop.openDialogs.size(), 4u);
    EXPECT_EQ(desktop.openDialogs[0].title, "TOP file");
    EXPECT_EQ(desktop.openDialogs[0].initDir, "");  // the home folder
    EXPECT_EQ(desktop.openDialogs[1].title, "BOTTOM file");
    EXPECT_EQ(desktop.openDialogs[1].initDir + "/", dir.Path(""));
    EXPECT_EQ(desktop.openDialogs[1].filter, "Postscript files (*.ps)|*.ps|All files (*)|*");
    EXPECT_EQ(desktop.Texts(), std::vector<std::string>{"Sorry only *.PS files"});
    EXPECT_EQ(form->state().bottomFile, dir.Path("right.ps"));
    EXPECT_EQ(Control<QLabel>("lblBottom")->text(), "    OK");
    EXPECT_EQ(Control<QWidget>("frmBottom")->accessibleName(), "BOTTOM drop zone, right.ps");
}

// A press inside a zone that is released outside it chooses nothing.
TEST_F(Form1Test, APressReleasedOutsideAZoneOpensNothing) {
    ShowActive();
    auto* frmTop = Control<QWidget>("frmTop");
    QTest::mousePress(frmTop, Qt::LeftButton, {}, QPoint(5, 60));
    QTest::mouseRelease(frmTop, Qt::LeftButton, {}, QPoint(5, frmTop->height() + 40));
    EXPECT_TRUE(desktop.openDialogs.empty());
    QTest::mouseClick(frmTop, Qt::LeftButton, {}, QPoint(5, 60));
    EXPECT_EQ(desktop.openDialogs.size(), 1u);
}

// Space or Enter on a zone that has the keyboard focus opens its dialog.
TEST_F(Form1Test, SpaceOrEnterOnAZoneOpensItsDialog) {
    ShowActive();
    TempFolder dir;
    desktop.openAnswers = {dir.Write("left.ps", AcceptedInput()), dir.Write("bad.ps", "x\r\n")};
    auto* frmTop = Control<QWidget>("frmTop");
    auto* frmBottom = Control<QWidget>("frmBottom");
    EXPECT_EQ(frmBottom->accessibleName(), "BOTTOM drop zone, no file");
    frmTop->setFocus();
    QTest::keyClick(frmTop, Qt::Key_Space);
    frmBottom->setFocus();
    QTest::keyClick(frmBottom, Qt::Key_Return);
    EXPECT_EQ(desktop.openDialogs.size(), 2u);
    EXPECT_EQ(Control<QLabel>("lblTop")->text(), "OK");
    EXPECT_EQ(desktop.Texts(), std::vector<std::string>{"BOTTOM.PS file check NOT OK"});
    EXPECT_EQ(Control<QLabel>("lblBottom")->text(), "BOTTOM");
    EXPECT_EQ(form->state().bottomOK, 0);
}

// Ctrl+V or Shift+Insert on a zone takes the files on the clipboard as a drop:
// as file managers copy them, or one absolute path as text; other text is not
// taken at all.
TEST_F(Form1Test, PastingOnAZoneIsADrop) {
    ShowActive();
    TempFolder dir;
    const std::string top = dir.Write("left.ps", AcceptedInput());
    const std::string bottom = dir.Write("right.ps", AcceptedInput());
    auto* frmTop = Control<QWidget>("frmTop");
    auto* frmBottom = Control<QWidget>("frmBottom");
    const auto paste = [](QWidget* zone, QMimeData* data, QKeySequence::StandardKey key) {
        QGuiApplication::clipboard()->setMimeData(data);
        zone->setFocus();
        const QKeySequence sequence(key);
        QTest::keySequence(zone, sequence);
    };
    paste(frmTop, FilesData({top}), QKeySequence::Paste);
    EXPECT_EQ(form->state().topFile, top);

    auto* text = new QMimeData;
    text->setText(QString::fromStdString("  " + bottom + "\n"));
    paste(frmBottom, text, QKeySequence::Paste);
    EXPECT_EQ(form->state().bottomFile, bottom);
    EXPECT_EQ(Control<QLabel>("lblBottom")->text(), "    OK");

    auto* words = new QMimeData;
    words->setText(QStringLiteral("just some words"));
    paste(frmTop, words, QKeySequence::Paste);
    paste(frmTop, FilesData({top, bottom}), QKeySequence::Paste);
    EXPECT_EQ(desktop.Texts(), std::vector<std::string>{"Only one at a time!"});
    EXPECT_EQ(form->state().topFile, top);
}

// Files on the command line go to TOP, then BOTTOM, as drops once the window
// is shown; --help and --version need no display; more is a usage error.
TEST_F(Form1Test, FilesNamedOnTheCommandLine) {
    const struct {
        std::vector<std::string> args;
        WindowCommandLine::Action action;
        std::vector<std::string> files;
    } cases[] = {
        {{}, WindowCommandLine::Action::OpenWindow, {}},
        {{"a.ps", "b.ps"}, WindowCommandLine::Action::OpenWindow, {"a.ps", "b.ps"}},
        {{"--", "-x.ps"}, WindowCommandLine::Action::OpenWindow, {"-x.ps"}},
        {{"--", "-reverse", "b.ps"}, WindowCommandLine::Action::OpenWindow, {"-reverse", "b.ps"}},
        {{"a.ps", "b.ps", "c.ps"}, WindowCommandLine::Action::UsageError, {}},
        {{"a.ps", ""}, WindowCommandLine::Action::UsageError, {}},
        {{"--help", "a.ps"}, WindowCommandLine::Action::UsageError, {}},
        {{"--frobnicate"}, WindowCommandLine::Action::UsageError, {}},
        {{"--version"}, WindowCommandLine::Action::PrintVersion, {}},
        // Qt's own options are Qt's: passed over, with their values.
        {{"-platform", "xcb", "a.ps"}, WindowCommandLine::Action::OpenWindow, {"a.ps"}},
        {{"-style", "fusion", "-reverse", "--version"},
         WindowCommandLine::Action::PrintVersion,
         {}},
        {{"-session", "1234abcd", "a.ps", "b.ps"},
         WindowCommandLine::Action::OpenWindow,
         {"a.ps", "b.ps"}},
        {{"--stylesheet", "x.qss", "-style=fusion", "-display", ":1", "a.ps"},
         WindowCommandLine::Action::OpenWindow,
         {"a.ps"}},
        {{"-stylesheet", "x.qss", "--frobnicate"}, WindowCommandLine::Action::UsageError, {}},
        {{"-reverse", "a.ps", "b.ps", "c.ps"}, WindowCommandLine::Action::UsageError, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"a5merge"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        std::vector<char*> ours = WithoutQtOptions(static_cast<int>(argv.size()), argv.data());
        const WindowCommandLine line =
            ParseWindowCommandLine(static_cast<int>(ours.size()), ours.data());
        EXPECT_EQ(line.action, c.action) << ::testing::PrintToString(c.args);
        EXPECT_EQ(line.files, c.files) << ::testing::PrintToString(c.args);
    }
    for (const char* entry : {"Preview...", "Print...", "Save as PDF...", "Swap TOP and BOTTOM",
                              "Right click, the Menu key or Shift+F10"}) {
        EXPECT_NE(WindowHelpText(QtOptions::Taken).find(entry), std::string::npos) << entry;
        EXPECT_NE(WindowHelpText(QtOptions::None).find(entry), std::string::npos) << entry;
    }
    // Qt's options only where they are taken.
    EXPECT_NE(WindowHelpText(QtOptions::Taken).find("[Qt's options]"), std::string::npos);
    EXPECT_EQ(WindowHelpText(QtOptions::None).find("Qt"), std::string::npos);
    EXPECT_NE(WindowHelpText(QtOptions::None).find("from a shell.\n\nRight click"),
              std::string::npos);
    for (const char* option : {"--help", "--version"}) {
        const testing::ProcessResult r =
            testing::RunProcess({"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY",
                                 "QT_QPA_PLATFORM=xcb", A5MERGE_WINDOW, option});
        EXPECT_EQ(r.status, 0) << option << r.err;
    }
    EXPECT_EQ(testing::RunProcess({A5MERGE_WINDOW, "a.ps", "b.ps", "c.ps"}).status, 2);
    EXPECT_EQ(testing::RunProcess({"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY",
                                   A5MERGE_WINDOW, "-platform", "xcb", "-reverse", "--version"})
                  .status,
              0);
    // With Qt's options the window opens (and runs until it is ended).
    const testing::ProcessResult qt =
        testing::RunProcess({"/usr/bin/timeout", "3", A5MERGE_WINDOW, "-platform", "offscreen",
                             "-style", "fusion", "-reverse", "-session", "someid"});
    EXPECT_EQ(qt.status, 124) << "it ended at once: " << qt.err;

    TempFolder dir;
    form->TakeFilesOnceShown({dir.Write("left.ps", AcceptedInput()), dir.Path("gone.ps")});
    EXPECT_TRUE(desktop.boxes.empty()) << "nothing before the window is shown";
    ShowActive();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !desktop.boxes.empty(); }));
    EXPECT_EQ(form->state().topOK, 1);
    EXPECT_EQ(desktop.Texts(), std::vector<std::string>{"BOTTOM.PS file check NOT OK"});
}

class Form1MergeTest : public Form1Test {
protected:
    // Drops the two sample inputs, copied to `dir` as left.ps (TOP) and right.ps.
    void DropSamples() {
        ShowActive();
        const std::string top = dir.Write("left.ps", ReadBytes(TestData("top.ps")));
        const std::string bottom = dir.Write("right.ps", ReadBytes(TestData("bottom.ps")));
        DropOn("lblTop", top);
        DropOn("lblBottom", bottom);
        ASSERT_EQ(Control<QLabel>("lblTop")->text(), "OK");
        ASSERT_EQ(Control<QLabel>("lblBottom")->text(), "    OK");
    }

    void DropOn(const char* control, const std::string& path) {
        std::unique_ptr<QMimeData> data(FilesData({path}));
        DropAt(*form, Control<QWidget>(control)->mapTo(form.get(), QPoint(5, 5)), *data);
    }

    TempFolder dir;
};

// A name ending in .pdf, in any case, gets the sheet as PDF; PDF is the
// dialog's second type.
TEST_F(Form1MergeTest, MergeAndSaveIntoAPdfNameWritesAPdf) {
    DropSamples();
    desktop.saveAnswers = {dir.Path("sheet.PDF")};
    QTest::mouseClick(Control<QPushButton>("cmdMerge"), Qt::LeftButton);
    ASSERT_EQ(desktop.dialogs.size(), 1u);
    EXPECT_EQ(desktop.dialogs[0].filter, "Postscript (*.PS)|*.PS|PDF (*.pdf)|*.pdf");
    EXPECT_EQ(ReadBytes(dir.Path("sheet.PDF")).rfind("%PDF-", 0), 0u);
    EXPECT_EQ(desktop.Texts(), std::vector<std::string>{"All looks OK!  "});
    EXPECT_EQ(Control<QLabel>("lblTop")->text(), "TOP");
}

// A desktop whose boxes each wait a moment in an event loop of their own, as
// real ones do: what arrives meanwhile is handled inside it.
class WaitingBoxDesktop : public FakeDesktop {
public:
    int MsgBox(const std::string& text, int style,
               const std::optional<std::string>& title = std::nullopt) override {
        deepest = std::max(deepest, ++depth);
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
        --depth;
        return FakeDesktop::MsgBox(text, style, title);
    }
    int depth = 0;
    int deepest = 0;
};

// A flood of hand-overs naming missing files: each box closes before the next
// hand-over is taken, and only a few wait; the rest are refused.
TEST(Form1HandOverTest, HandOversAreTakenOneAtATime) {
    WaitingBoxDesktop desktop;
    TextFiles files;
    ScriptedInstances firstCopy(false);
    Form1 form(desktop, files, firstCopy);
    form.Load();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    TempFolder dir;
    // They arrive as messages do, from the event loop, also while a box is open.
    int taken = 0, sent = 0;
    QTimer flood;
    QObject::connect(&flood, &QTimer::timeout, [&] {
        taken += form.TakeFilesOnceShown({dir.Path("gone" + std::to_string(sent) + ".ps")});
        if (++sent == 40) flood.stop();
    });
    flood.start(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sent == 40; }, 20000));
    EXPECT_LT(taken, 40) << "the queue is bounded";
    EXPECT_GE(taken, 8);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return desktop.boxes.size() == static_cast<std::size_t>(taken); }, 20000));
    EXPECT_EQ(desktop.deepest, 1) << "a box was opened inside another";
    // Arriving a moment apart, they go to TOP and BOTTOM in turn.
    std::vector<std::string> expected;
    for (int i = 0; i < taken; ++i) {
        expected.push_back(i % 2 == 0 ? "TOP.PS file check NOT OK" : "BOTTOM.PS file check NOT OK");
    }
    EXPECT_EQ(desktop.Texts(), expected);
    // Closed by the window system, it takes no more: their copies keep them.
    EXPECT_TRUE(form.TakeFilesFromAnotherCopy({dir.Path("late.ps")}));
    form.close();
    EXPECT_FALSE(form.TakeFilesFromAnotherCopy({dir.Path("later.ps")}));
}

TEST_F(Form1MergeTest, DropMergeSaveEndToEnd) {
    DropSamples();
    const std::string out = dir.Path("left_Combi.PS");
    desktop.saveAnswers = {out};
    QTest::mouseClick(Control<QPushButton>("cmdMerge"), Qt::LeftButton);

    ASSERT_EQ(desktop.dialogs.size(), 1u);
    EXPECT_EQ(desktop.dialogs[0].fileName, out);
    EXPECT_EQ(ReadBytes(out), ReadBytes(TestData("expected_merge.PS")));
    EXPECT_EQ(desktop.Texts(), std::vector<std::string>{"All looks OK!  "});
    EXPECT_EQ(Control<QLabel>("lblTop")->text(), "TOP");
    EXPECT_EQ(Control<QLabel>("lblBottom")->text(), "BOTTOM");

    DropOn("frmTop", out);
    EXPECT_EQ(desktop.Texts(),
              (std::vector<std::string>{"All looks OK!  ", "TOP.PS processed before"}));
    EXPECT_EQ(Control<QLabel>("lblTop")->text(), "TOP");
    EXPECT_EQ(form->state().topFile, dir.Path("left.ps"));
}

// A second copy started with files hands them to the running window, as if
// named on its command line (one file goes to TOP), and exits 0; the door
// takes nothing but one or two absolute file names.
TEST_F(Form1MergeTest, ASecondCopyWithFilesHandsThemToTheRunningWindow) {
    ShowActive();
    TempFolder runtime;  // the runtime folder both copies use
    const std::string lockPath = runtime.Path("a5merge.lock");
    SingleInstance lock(lockPath);
    ASSERT_EQ(lock.Acquire(), SingleInstance::Outcome::First);
    FileChannel door(FileChannelPath(lockPath), [&](const std::vector<std::string>& handed) {
        return form->TakeFilesOnceShown(handed);
    });
    ASSERT_TRUE(door.listening());
    const std::string top = dir.Write("left.ps", ReadBytes(TestData("top.ps")));
    const std::string bottom = dir.Write("right.ps", ReadBytes(TestData("bottom.ps")));

    const auto secondCopy = [&](const QStringList& args) {
        QProcess copy;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                           QString::fromStdString(runtime.Path("")));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        copy.setProcessEnvironment(environment);
        copy.setWorkingDirectory(QString::fromStdString(dir.Path("")));
        copy.start(QStringLiteral(A5MERGE_WINDOW), args);
        EXPECT_TRUE(QTest::qWaitFor([&] { return copy.state() == QProcess::NotRunning; }, 20000));
        return copy.exitCode();
    };
    EXPECT_EQ(secondCopy({QStringLiteral("right.ps"), QStringLiteral("left.ps")}), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->state().topFile == bottom; }));
    EXPECT_EQ(form->state().bottomFile, top);
    EXPECT_EQ(secondCopy({QStringLiteral("left.ps")}), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->state().topFile == top; }));
    EXPECT_EQ(form->state().bottomFile, top);

    // No file: only "come to the front", and nothing is taken.
    {
        QLocalSocket socket;
        socket.connectToServer(FileChannelPath(lockPath));
        ASSERT_TRUE(socket.waitForConnected(2000));
        const std::string message = FileChannel::Message({});
        socket.write(message.data(), static_cast<qint64>(message.size()));
        QByteArray answer;
        EXPECT_TRUE(QTest::qWaitFor([&] {
            answer += socket.readAll();
            return answer.contains('\n');
        }));
        EXPECT_EQ(answer, "taken\n");
    }

    // Anything else is refused, and nothing is taken.
    for (const std::string& message : {std::string("hello"), FileChannel::Message({"relative.ps"}),
                                       FileChannel::Message({top, bottom, top}),
                                       FileChannel::Message({std::string(5000, '/')})}) {
        QLocalSocket socket;
        socket.connectToServer(FileChannelPath(lockPath));
        ASSERT_TRUE(socket.waitForConnected(2000));
        socket.write(message.data(), static_cast<qint64>(message.size()));
        QByteArray answer;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                answer += socket.readAll();
                return answer.contains('\n') || socket.state() != QLocalSocket::ConnectedState;
            },
            6000));
        EXPECT_NE(answer, "taken\n") << ::testing::PrintToString(message);
    }
    QTest::qWait(50);
    EXPECT_EQ(form->state().topFile, top);
}

// Starts the window as a process of its own, offscreen, with `runtime` as its
// runtime folder and `environment` besides.
std::unique_ptr<QProcess> StartWindow(const QStringList& args, const std::string& runtime,
                                      const std::string& cwd,
                                      const std::vector<std::pair<QString, QString>>& more = {}) {
    auto window = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(runtime));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const auto& [name, value] : more) environment.insert(name, value);
    window->setProcessEnvironment(environment);
    window->setWorkingDirectory(QString::fromStdString(cwd));
    window->start(QStringLiteral(A5MERGE_WINDOW), args);
    EXPECT_TRUE(window->waitForStarted());
    return window;
}

int ExitCodeOf(QProcess& process, int ms = 20000) {
    EXPECT_TRUE(QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, ms));
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// A window killed with SIGKILL leaves its socket; the next takes it over,
// and a copy started after it hands its file over.
TEST_F(Form1MergeTest, AWindowKilledLeavesNothingThatBlocksTheNext) {
    TempFolder runtime;
    const std::string socket = runtime.Path("a5merge.socket");
    auto first = StartWindow({}, runtime.Path(""), dir.Path(""));
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(socket); }, 20000));
    first->kill();
    first->waitForFinished();
    ASSERT_TRUE(std::filesystem::exists(socket)) << "the socket of the killed copy stays";
    auto second = StartWindow({}, runtime.Path(""), dir.Path(""));
    QTest::qWait(300);
    dir.Write("left.ps", AcceptedInput());
    // It answers once its door is open.
    std::unique_ptr<QProcess> third;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            third = StartWindow({QStringLiteral("left.ps")}, runtime.Path(""), dir.Path(""));
            return ExitCodeOf(*third) == 0;
        },
        30000));
    EXPECT_EQ(second->state(), QProcess::Running);
    second->kill();
    second->waitForFinished();
}

// A copy started while the first still starts (its door not yet open) tries
// for a while and hands its files over once it can.
TEST_F(Form1MergeTest, ACopyStartedWhileTheFirstStartsKeepsItsFiles) {
    TempFolder runtime;
    const std::string lockPath = runtime.Path("a5merge.lock");
    SingleInstance lock(lockPath);
    ASSERT_EQ(lock.Acquire(), SingleInstance::Outcome::First);
    const std::string top = dir.Write("left.ps", AcceptedInput());
    auto copy = StartWindow({QStringLiteral("left.ps")}, runtime.Path(""), dir.Path(""));
    QTest::qWait(1500);
    EXPECT_EQ(copy->state(), QProcess::Running) << "it gave up at once";
    std::vector<std::string> handed;
    FileChannel door(FileChannelPath(lockPath), [&](const std::vector<std::string>& files) {
        handed = files;
        return true;
    });
    EXPECT_EQ(ExitCodeOf(*copy), 0);
    EXPECT_EQ(handed, std::vector<std::string>{top});

    // A copy without files asks the running one to come to the front (a
    // hand-over of no file), then says it runs.
    bool asked = false;
    FileChannel front(FileChannelPath(lockPath), [&](const std::vector<std::string>& files) {
        asked = files.empty();
        return true;
    });
    auto bare = StartWindow({}, runtime.Path(""), dir.Path(""));
    EXPECT_TRUE(QTest::qWaitFor([&] { return asked; }, 10000));
    bare->kill();
    bare->waitForFinished();
}

// Names are never handed to a door of another user's, whatever it answers.
TEST(FileChannelTest, NamesGoOnlyToADoorOfThisUser) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to listen as another user";
    TempFolder dir;
    ::chmod(dir.Path("").c_str(), 0777);
    const std::string path = dir.Path("a5merge.socket");
    int heard[2];
    ASSERT_EQ(::pipe(heard), 0);
    const pid_t other = ::fork();
    ASSERT_GE(other, 0);
    if (other == 0) {
        ::signal(SIGPIPE, SIG_IGN);  // the sender may hang up before the answer
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) std::_Exit(1);
        const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        if (::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            std::_Exit(2);
        ::chmod(path.c_str(), 0777);
        ::listen(server, 1);
        (void)!::write(heard[1], "l", 1);
        const int client = ::accept(server, nullptr, nullptr);
        char buf[8192];
        ssize_t got = 0;
        for (ssize_t n; (n = ::read(client, buf, sizeof buf)) > 0;) got += n;
        (void)!::write(client, "taken\n", 6);
        const char said = got > 0 ? 'y' : 'n';
        (void)!::write(heard[1], &said, 1);
        std::_Exit(0);
    }
    ::close(heard[1]);
    char c = 0;
    ASSERT_EQ(::read(heard[0], &c, 1), 1) << "the other user could not listen";
    EXPECT_FALSE(SendFilesToRunningCopy(QString::fromStdString(path), {"/secret/review.ps"}, 2000));
    ASSERT_EQ(::read(heard[0], &c, 1), 1);
    EXPECT_EQ(c, 'n') << "a name reached another user's door";
    ::close(heard[0]);
    ::waitpid(other, nullptr, 0);
}

// The window ended by a signal while it renders (here a zone's tooltip of a
// drawing that loops, with Ghostscript outside the sandbox) leaves neither
// Ghostscript nor its private folder.
TEST_F(Form1MergeTest, AWindowEndedWhileItRendersLeavesNothing) {
    TempFolder runtime;
    const std::string tmp = dir.Path("tmp");
    std::filesystem::create_directory(tmp);
    std::filesystem::create_directory(dir.Path("bin"));
    std::filesystem::create_symlink("/usr/bin/gs", dir.Path("bin/gs"));
    dir.Write("looping.ps", AcceptedInput("{ } loop\r\nshowpage\r\n"));
    const auto folders = [&tmp] {
        int n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(tmp)) {
            n += entry.path().filename().string().rfind("a5merge-", 0) == 0;
        }
        return n;
    };
    auto window = StartWindow({QStringLiteral("looping.ps")}, runtime.Path(""), dir.Path(""),
                              {{QStringLiteral("TMPDIR"), QString::fromStdString(tmp)},
                               {QStringLiteral("PATH"), QString::fromStdString(dir.Path("bin"))}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return folders() > 0; }, 20000)) << "no render started";
    QTest::qWait(300);
    const qint64 pid = window->processId();
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    EXPECT_EQ(ExitCodeOf(*window), -1) << "it ended by the signal";
    EXPECT_EQ(folders(), 0);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return testing::RunProcess({"/usr/bin/pgrep", "-f", dir.Path("bin/gs")}).out.empty();
        },
        3000))
        << "Ghostscript outlived the window";
}

// Ctrl+Shift+X gives each zone the other's file, as drops: files, labels
// and what a screen reader hears follow.
TEST_F(Form1MergeTest, SwapGivesEachZoneTheOthersFile) {
    ShowActive();
    const std::string alone = dir.Write("alone.ps", AcceptedInput());
    DropOn("lblTop", alone);
    QTest::keyClick(form.get(), Qt::Key_X, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(desktop.Texts(), std::vector<std::string>{"Sorry input *.PS files not correct"});
    EXPECT_EQ(form->state().topFile, alone) << "one zone alone is not swapped";
    EXPECT_EQ(form->state().bottomOK, 0);
    desktop.boxes.clear();
    DropSamples();
    QTest::keyClick(form.get(), Qt::Key_X, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(form->state().topFile, dir.Path("right.ps"));
    EXPECT_EQ(form->state().bottomFile, dir.Path("left.ps"));
    EXPECT_EQ(Control<QLabel>("lblTop")->text(), "OK");
    EXPECT_EQ(Control<QLabel>("lblBottom")->text(), "    OK");
    EXPECT_EQ(Control<QWidget>("frmTop")->accessibleName(), "TOP drop zone, right.ps");
    EXPECT_TRUE(desktop.boxes.empty());
}

// A screen reader hears each zone's state and file in its name, is told how
// to choose one, and can press the zone to do so; after MERGE + SAVE the
// labels read TOP and BOTTOM again, but the files are still named.
TEST_F(Form1MergeTest, WhatAScreenReaderHears) {
    DropSamples();
    QAccessibleInterface* top = QAccessible::queryAccessibleInterface(Control<QWidget>("frmTop"));
    QAccessibleInterface* bottom =
        QAccessible::queryAccessibleInterface(Control<QWidget>("frmBottom"));
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->role(), QAccessible::Button);
    EXPECT_EQ(top->text(QAccessible::Name), "TOP drop zone, left.ps");
    EXPECT_EQ(bottom->text(QAccessible::Name), "BOTTOM drop zone, right.ps");
    EXPECT_TRUE(top->text(QAccessible::Description).startsWith("Space or Enter chooses a file"));
    EXPECT_TRUE(top->text(QAccessible::Description)
                    .endsWith("Preview, Print, Save as PDF, Swap TOP and BOTTOM"));
    ASSERT_NE(top->actionInterface(), nullptr);
    EXPECT_EQ(top->actionInterface()->actionNames(),
              QStringList{QAccessibleActionInterface::pressAction()});
    top->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_EQ(desktop.openDialogs.size(), 1u);
    EXPECT_EQ(desktop.openDialogs[0].title, "TOP file");

    desktop.saveAnswers = {dir.Path("out.PS")};
    QTest::mouseClick(Control<QPushButton>("cmdMerge"), Qt::LeftButton);
    EXPECT_EQ(Control<QLabel>("lblTop")->text(), "TOP");
    EXPECT_EQ(top->text(QAccessible::Name), "TOP drop zone, left.ps");
}

// Boxes are answered by the script; the Save dialog is the real one.
class RealSaveDialogDesktop : public FakeDesktop {
public:
    std::optional<std::string> SaveAs(const SaveDialog& dialog) override {
        dialogs.push_back(dialog);
        return real.SaveAs(dialog);
    }
    QtDesktop real{QStringLiteral("PS merge")};
};

// Types `name` over the proposed one, as a user does, and presses Enter.
void TypeAndAccept(QFileDialog* dialog, const char* name) {
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QString::fromLatin1(name));
    QTest::keyClick(edit, Qt::Key_Return);
}

TEST_F(Form1MergeTest, RealSaveDialogAddsTheExtensionAndAsksBeforeReplacing) {
    RealSaveDialogDesktop realDesktop;
    form = std::make_unique<Form1>(realDesktop, files, firstCopy);
    form->Load();
    DropSamples();
    dir.Write("other.txt", "x");

    dir.Write("a.ps", "x");
    dir.Write("B.PS", "x");
    QString shownDir, shownName, title;
    QStringList listed;
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
        title = dialog->windowTitle();
        // *.PS lists PostScript files of either case, and nothing else.
        auto* view = dialog->findChild<QAbstractItemView*>(QStringLiteral("listView"));
        ASSERT_NE(view, nullptr);
        EXPECT_TRUE(QTest::qWaitFor([&] {
            listed.clear();
            for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row) {
                listed << view->model()->index(row, 0, view->rootIndex()).data().toString();
            }
            return listed.size() >= 4;
        }));
        shownDir = dialog->directory().absolutePath();
        shownName = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
        TypeAndAccept(dialog, "mine");
    });
    QTest::mouseClick(Control<QPushButton>("cmdMerge"), Qt::LeftButton);
    EXPECT_EQ(title, "Korvalith PS file");
    listed.sort(Qt::CaseInsensitive);
    EXPECT_EQ(listed, (QStringList{"a.ps", "B.PS", "left.ps", "right.ps"}));
    EXPECT_EQ(shownDir.toStdString() + "/", dir.Path(""));
    EXPECT_EQ(shownName, "left_Combi.PS");
    EXPECT_EQ(ReadBytes(dir.Path("mine.PS")), ReadBytes(TestData("expected_merge.PS")));
    EXPECT_EQ(realDesktop.Texts(), std::vector<std::string>{"All looks OK!  "});

    // "mine" again: mine.PS exists once PS is added, so the dialog asks; No
    // keeps the dialog open, and another name is taken instead.
    dir.Write("mine.PS", "keep me");
    QString question;
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
        WhenModal<QMessageBox>([&, dialog](QMessageBox* box) {
            question = box->text();
            box->button(QMessageBox::No)->click();
            QTimer::singleShot(0, [dialog] { TypeAndAccept(dialog, "fresh"); });
        });
        TypeAndAccept(dialog, "mine");
    });
    QTest::mouseClick(Control<QPushButton>("cmdMerge"), Qt::LeftButton);
    EXPECT_TRUE(question.contains(QStringLiteral("mine.PS"))) << question.toStdString();
    EXPECT_EQ(ReadBytes(dir.Path("mine.PS")), "keep me");
    EXPECT_EQ(ReadBytes(dir.Path("fresh.PS")), ReadBytes(TestData("expected_merge.PS")));

    // Cancel writes nothing and says nothing.
    WhenModal<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
    const auto before = dir.Entries();
    QTest::mouseClick(Control<QPushButton>("cmdMerge"), Qt::LeftButton);
    EXPECT_EQ(dir.Entries(), before);
    EXPECT_EQ(realDesktop.boxes.size(), 2u);
}

// Right click anywhere, the Menu key and Shift+F10 open the context menu; its
// three entries and their shortcuts answer as MERGE + SAVE does before both
// zones hold a file.
TEST_F(Form1Test, ContextMenuAndShortcutsReachTheActions) {
    ShowActive();
    QMenu* menu = form->contextMenu();
    ASSERT_NE(menu, nullptr);
    QStringList entries, keys;
    for (QAction* action : menu->actions()) {
        entries << action->text();
        keys << action->shortcut().toString();
    }
    EXPECT_EQ(entries,
              (QStringList{"Preview...", "Print...", "Save as PDF...", "", "Swap TOP and BOTTOM"}));
    EXPECT_EQ(keys, (QStringList{"Ctrl+Shift+P", "Ctrl+P", "Ctrl+Shift+S", "", "Ctrl+Shift+X"}));

    for (const char* target : {"lblKorva", "frmTop", "lblBottom", "cmdMerge", "Form1"}) {
        SCOPED_TRACE(target);
        QWidget* widget = target == std::string("Form1") ? form.get() : Control<QWidget>(target);
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(3, 3),
                                widget->mapToGlobal(QPoint(3, 3)));
        QApplication::sendEvent(widget, &click);
        EXPECT_TRUE(menu->isVisible());
        menu->hide();
    }
    for (const QKeyCombination key :
         {QKeyCombination(Qt::Key_Menu), QKeyCombination(Qt::ShiftModifier, Qt::Key_F10)}) {
        QTest::keyClick(QApplication::focusWidget(), key.key(), key.keyboardModifiers());
        EXPECT_TRUE(menu->isVisible()) << QKeySequence(key).toString().toStdString();
        menu->hide();
    }

    const Qt::KeyboardModifiers ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_P, ctrlShift);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_P, Qt::ControlModifier);
    Control<QWidget>("frmBottom")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, ctrlShift);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_X, ctrlShift);
    EXPECT_EQ(desktop.Texts(), std::vector<std::string>(4, "Sorry input *.PS files not correct"));
    EXPECT_EQ(form->preview(), nullptr);
    EXPECT_TRUE(desktop.dialogs.empty());
}

// Ghostscript's render of `path` alone, in colour as the preview renders it,
// at 72 dots per inch: a pixel a point.
QImage RenderedAlone(const std::string& path) {
    const Ghostscript ghostscript;
    const GhostscriptResult result = ghostscript.Run(ColourRasterDevice(72), path);
    std::vector<Raster> pages;
    EXPECT_TRUE(result.ok && ReadRasters(result.output, pages) && !pages.empty()) << result.failure;
    return pages.empty() ? QImage() : ImageOf(pages[0]);
}

// Pixels of `rows` rows that differ between `a` from row `aFrom` and `b` from
// row `bFrom`.
int Differing(const QImage& a, int aFrom, const QImage& b, int bFrom, int rows) {
    int differing = 0;
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < a.width(); ++x) {
            differing += a.pixel(x, aFrom + y) != b.pixel(x, bFrom + y);
        }
    }
    return differing;
}

bool InkIn(const QImage& image, int from, int to) {
    for (int y = from; y < to; ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) < 250) return true;
        }
    }
    return false;
}

// Waits for the preview to end a render that `act` starts.
void RenderAfter(PreviewWindow* preview, const std::function<void()>& act) {
    QSignalSpy done(preview, &PreviewWindow::renderDone);
    act();
    ASSERT_TRUE(done.wait(30000) || !done.isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !preview->rendering(); }, 30000));
}

TEST_F(Form1MergeTest, PreviewShowsTheSheetAndFollowsTheZones) {
    ShowActive();
    const std::string top = dir.Write("left.ps", ReadBytes(TestData("top.ps")));
    const std::string bottom = dir.Write("right.ps", ReadBytes(TestData("bottom.ps")));
    DropOn("lblTop", top);
    QTest::keyClick(form.get(), Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
    PreviewWindow* preview = form->preview();
    ASSERT_NE(preview, nullptr);
    EXPECT_TRUE(preview->isWindow());
    EXPECT_EQ(preview->windowModality(), Qt::NonModal);
    EXPECT_NE(preview->minimumSize(), preview->maximumSize()) << "resizable";
    EXPECT_EQ(preview->windowTitle(), "Preview of the A4 sheet - PS merge");
    // Beside the main window, not over it; Escape and Ctrl+W close it.
    EXPECT_FALSE(preview->frameGeometry().intersects(form->frameGeometry()))
        << "the preview hides the zones";
    EXPECT_GE(preview->x(), form->frameGeometry().right());
    for (const QKeySequence& key :
         {QKeySequence(Qt::Key_Escape), QKeySequence(QStringLiteral("Ctrl+W"))}) {
        // The offscreen platform activates the window only as far as the
        // window system goes: the widgets are told so here.
        QApplication::setActiveWindow(preview);
        QTest::keySequence(preview, key);
        EXPECT_FALSE(preview->isVisible()) << key.toString().toStdString();
        QTest::keyClick(form.get(), Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
        ASSERT_TRUE(preview->isVisible());
    }
    // A page of 842 pixels: the render is at 72 dots per inch.
    RenderAfter(preview, [&] { preview->resize(623, 900); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return preview->picture().height() == 842; }, 30000));

    // TOP alone, in its place; nothing below.
    const QImage topAlone = RenderedAlone(top);
    const QImage bottomAlone = RenderedAlone(bottom);
    QImage shown = preview->picture().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(Differing(shown, 0, topAlone.convertToFormat(QImage::Format_RGB32), 405, 421), 0);
    EXPECT_FALSE(InkIn(shown, 437, 842));
    EXPECT_EQ(preview->statusText(), "TOP only: BOTTOM has no file yet");

    // BOTTOM accepted: the preview renders again, BOTTOM low, TOP high.
    RenderAfter(preview, [&] { DropOn("lblBottom", bottom); });
    shown = preview->picture().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(Differing(shown, 0, topAlone.convertToFormat(QImage::Format_RGB32), 405, 421), 0);
    EXPECT_EQ(Differing(shown, 437, bottomAlone.convertToFormat(QImage::Format_RGB32), 437, 405),
              0);
    EXPECT_GT(Differing(shown, 437, topAlone.convertToFormat(QImage::Format_RGB32), 437, 405),
              1000);
    EXPECT_EQ(preview->statusText(), "");

    // Another BOTTOM, then a TOP that Ghostscript refuses: its text instead.
    const std::string box = dir.Write(
        "box.ps",
        AcceptedInput("newpath 50 50 moveto 500 0 rlineto 0 300 rlineto closepath fill\r\n"
                      "showpage\r\n"));
    RenderAfter(preview, [&] { DropOn("lblBottom", box); });
    shown = preview->picture().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(
        Differing(shown, 437, RenderedAlone(box).convertToFormat(QImage::Format_RGB32), 437, 405),
        0);
    // Said while it renders; a TOP with two page ends prints as two pages.
    const std::string twice =
        dir.Write("twice.ps", AcceptedInput("0 0 moveto 9 9 lineto stroke showpage\r\n"
                                            "0 0 moveto 9 9 lineto stroke showpage\r\n"));
    RenderAfter(preview, [&] {
        DropOn("lblTop", twice);
        EXPECT_EQ(preview->statusText(), "Rendering...");
    });
    EXPECT_EQ(preview->statusText(), "Will not print right: prints as 2 pages");
    const std::string bad = dir.Write("bad.ps", AcceptedInput("nosuchoperator\r\nshowpage\r\n"));
    RenderAfter(preview, [&] { DropOn("lblTop", bad); });
    EXPECT_TRUE(preview->picture().isNull());
    EXPECT_EQ(preview->message(), "TOP, bad.ps: Ghostscript: Error: /undefined in nosuchoperator");

    // A sandbox that cannot be made here is said.
    std::filesystem::create_directory(dir.Path("bin"));
    std::filesystem::create_symlink("/usr/bin/gs", dir.Path("bin/gs"));
    dir.Write("bin/bwrap",
              "#!/bin/sh\necho 'bwrap: No permissions to create a new namespace' >&2\nexit 1\n");
    ::chmod(dir.Path("bin/bwrap").c_str(), 0755);
    const std::string path = std::getenv("PATH");
    ::setenv("PATH", dir.Path("bin").c_str(), 1);
    const Ghostscript unsandboxed;
    ::setenv("PATH", path.c_str(), 1);
    {
        TextFiles otherFiles;
        Form1 other(desktop, otherFiles, firstCopy);
        other.UseGhostscript(unsandboxed);
        other.Load();
        other.frmTop_OLEDragDrop({top});
        other.Preview();
        ASSERT_NE(other.preview(), nullptr);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !other.preview()->rendering(); }, 30000));
        EXPECT_EQ(other.preview()->statusText(),
                  "TOP only: BOTTOM has no file yet\nGhostscript runs without its sandbox here: "
                  "bwrap: No permissions to create a new namespace");
    }

    // Without Ghostscript, the package to install.
    GhostscriptSettings settings;
    settings.program = "/nonexistent/gs";
    const Ghostscript missing(settings);
    TextFiles otherFiles;
    Form1 other(desktop, otherFiles, firstCopy);
    other.UseGhostscript(missing);
    other.Load();
    other.frmTop_OLEDragDrop({top});
    other.Preview();
    ASSERT_NE(other.preview(), nullptr);
    EXPECT_EQ(other.preview()->message(),
              "Ghostscript (gs) was not found: install the package ghostscript");
}

// A zone that holds a file names it in its tooltip with a small render of
// its drawing; a file unchanged is not rendered again.
TEST_F(Form1MergeTest, EachZoneShowsItsDrawing) {
    auto* frmTop = Control<QWidget>("frmTop");
    auto* frmBottom = Control<QWidget>("frmBottom");
    // Each tooltip, with a file or without, says what the context menu holds.
    const QString hint = QStringLiteral(
        "<i>Right click, the Menu key or Shift+F10: Preview, Print, Save as PDF, Swap TOP and "
        "BOTTOM</i>");
    EXPECT_EQ(frmTop->toolTip(),
              "<b>TOP</b>: drop, paste or click to choose a PostScript file<br>" + hint);
    EXPECT_TRUE(frmBottom->toolTip().endsWith(hint));
    // A file refused: why, as --check says it, until the zone takes one.
    ShowActive();
    DropOn("frmTop", dir.Write("a<b>.txt", "x"));
    EXPECT_EQ(frmTop->toolTip(),
              "<b>TOP</b>: drop, paste or click to choose a PostScript file<br>Refused "
              "a&lt;b&gt;.txt: Sorry only *.PS files<br>" + hint);
    desktop.boxes.clear();
    DropSamples();
    EXPECT_TRUE(frmTop->toolTip().endsWith(hint));
    EXPECT_FALSE(frmTop->toolTip().contains("Refused"));
    EXPECT_TRUE(
        frmTop->toolTip().startsWith("<b>TOP</b>: " + QString::fromStdString(dir.Path("left.ps"))));
    EXPECT_TRUE(frmBottom->toolTip().startsWith("<b>BOTTOM</b>: "));
    const QString picture = QStringLiteral("<img src=\"data:image/png;base64,");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return frmTop->toolTip().contains(picture) && frmBottom->toolTip().contains(picture);
        },
        30000));
    const auto image = [&](QWidget* zone) {
        const QString tip = zone->toolTip();
        const qsizetype from = tip.indexOf(picture) + picture.size();
        return QImage::fromData(
            QByteArray::fromBase64(tip.mid(from, tip.indexOf('"', from) - from).toLatin1()));
    };
    const QImage topPicture = image(frmTop);
    EXPECT_NEAR(topPicture.width(), DrawingTooltips::kWidth, 3);  // whole dots per inch
    EXPECT_NEAR(topPicture.height(), DrawingTooltips::kWidth * 421 / 595, 2) << "the half page";
    EXPECT_TRUE(InkIn(topPicture, 0, topPicture.height()));
    EXPECT_NE(topPicture, image(frmBottom));

    // A drawing Ghostscript refuses: its error, and the name as text.
    const std::string bad = dir.Write("<i>bad.ps", AcceptedInput("nosuchoperator\r\nshowpage\r\n"));
    DropOn("lblBottom", bad);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return frmBottom->toolTip().contains(QStringLiteral("Error:")); }, 30000));
    EXPECT_TRUE(frmBottom->toolTip().contains(QStringLiteral("&lt;i&gt;bad.ps")))
        << frmBottom->toolTip().toStdString();
    EXPECT_FALSE(frmBottom->toolTip().contains(QStringLiteral("<i>bad.ps")));
    EXPECT_TRUE(frmBottom->toolTip().contains(
        QStringLiteral("<br>Ghostscript: Error: /undefined in nosuchoperator<br>")));
    DropOn("lblBottom", dir.Path("right.ps"));

    EXPECT_EQ(form->tooltips()->renders(), 3);
    DropOn("lblTop", dir.Path("left.ps"));
    EXPECT_EQ(form->tooltips()->renders(), 3) << "unchanged: from the cache";
    dir.Write("left.ps", ReadBytes(TestData("top.ps")) + "% changed\r\n");
    DropOn("lblTop", dir.Path("left.ps"));
    EXPECT_EQ(form->tooltips()->renders(), 4);
}

// Boxes are answered by the script; the print dialog is Qt's own.
class RealPrintDialogDesktop : public FakeDesktop {
public:
    std::optional<PrintChoice> ChoosePrinter(const std::string& title) override {
        printDialogs.push_back(title);
        return real.ChoosePrinter(title);
    }
    QtDesktop real{QStringLiteral("PS merge")};
};

// Ctrl+P with a real cupsd of the test's own (in a process of its own, as
// ctest runs each test: libcups and Qt's print dialog keep the first server
// they meet): Qt's dialog chooses its queue
// for a PostScript printer, and what reaches that printer is one sheet with
// both halves (the PostScript route would have dropped TOP).
TEST_F(Form1MergeTest, PrintReachesAPostScriptPrinterWithBothHalves) {
    testing::PrivateCups cups;
    if (cups.unavailable()) GTEST_SKIP() << cups.why();
    ASSERT_EQ(cups.why(), "");
    RealPrintDialogDesktop realDesktop;
    form = std::make_unique<Form1>(realDesktop, files, firstCopy);
    form->Load();
    DropSamples();
    QString printer;
    WhenModal<QPrintDialog>([&](QPrintDialog* dialog) {
        printer = dialog->printer()->printerName();
        dialog->accept();
    });
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(printer, testing::PrivateCups::kQueue);
    EXPECT_EQ(realDesktop.Texts(), std::vector<std::string>{"Sent to a5test"});

    const std::optional<std::string> job = cups.WaitForJob(std::chrono::seconds(90));
    ASSERT_TRUE(job.has_value()) << "nothing reached the printer";
    EXPECT_EQ(job->rfind("%!PS", 0), 0u) << "the printer is sent PostScript";
    TempFolder received;
    const std::string path = received.Write("job.ps", *job);
    const Ghostscript ghostscript;
    const GhostscriptResult rendered = ghostscript.Run(GrayRasterDevice(30), path);
    std::vector<Raster> pages;
    ASSERT_TRUE(rendered.ok && ReadRasters(rendered.output, pages)) << rendered.failure;
    EXPECT_EQ(SheetProblems(pages), std::vector<std::string>{});
}

}  // namespace
}  // namespace a5merge
