// The sheet from the Qt window: MERGE + SAVE, Swap, the real Save dialog,
// the preview, the zones' drawings and printing.

#include "support/form1_fixture.h"

namespace a5merge {
namespace {

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
