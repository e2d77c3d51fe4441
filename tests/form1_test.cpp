// The Qt window itself: its design, focus, keys, boxes, drops, clicks,
// pastes, context menu and what a screen reader hears.

#include "support/form1_fixture.h"

namespace a5merge {
namespace {

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

}  // namespace
}  // namespace a5merge
