#include "app/qt_desktop.h"

#include <QApplication>
#include <QMessageBox>
#include <QPageSize>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace a5merge {
namespace {

TEST(QtDesktopTest, StylesMapToIconButtonsAndTitle) {
    QtDesktop desktop(QStringLiteral("PS merge"));

    auto plain = desktop.MakeBox("Sorry only *.PS files", 4096, std::nullopt);
    EXPECT_EQ(plain->windowTitle(), "PS merge");
    EXPECT_EQ(plain->text(), "Sorry only *.PS files");
    EXPECT_EQ(plain->icon(), QMessageBox::NoIcon);
    EXPECT_EQ(plain->standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(plain->windowModality(), Qt::ApplicationModal);
    EXPECT_TRUE(plain->windowFlags() & Qt::WindowStaysOnTopHint);

    auto stop = desktop.MakeBox("The application is already running!!! \r", 4112, "Error !");
    EXPECT_EQ(stop->windowTitle(), "Error !");
    EXPECT_EQ(stop->text(), "The application is already running!!! ");
    EXPECT_EQ(stop->icon(), QMessageBox::Critical);
    EXPECT_EQ(stop->standardButtons(), QMessageBox::Ok);
    EXPECT_TRUE(stop->windowFlags() & Qt::WindowStaysOnTopHint);

    auto question = desktop.MakeBox("You're sure?", 33, "Confirmation");
    EXPECT_EQ(question->icon(), QMessageBox::Question);
    EXPECT_EQ(question->standardButtons(), QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(question->defaultButton(), question->button(QMessageBox::Ok));
    EXPECT_EQ(question->escapeButton(), question->button(QMessageBox::Cancel));
    EXPECT_EQ(question->windowModality(), Qt::ApplicationModal);
    EXPECT_FALSE(question->windowFlags() & Qt::WindowStaysOnTopHint);

    auto lines = desktop.MakeBox("Invalid file processing detected\r\nProgram will close", 4096,
                                 std::nullopt);
    EXPECT_EQ(lines->text(), "Invalid file processing detected\nProgram will close");
}

// Presses `key` in the next modal box once it is shown.
void PressInNextBox(Qt::Key key) {
    QTimer::singleShot(0, [key] {
        QWidget* box = QApplication::activeModalWidget();
        ASSERT_NE(box, nullptr);
        QTest::keyClick(box, key);
    });
}

TEST(QtDesktopTest, AnswersAreOkOrCancel) {
    QtDesktop desktop(QStringLiteral("PS merge"));
    PressInNextBox(Qt::Key_Escape);
    EXPECT_EQ(desktop.MsgBox("You're sure?", 33, "Confirmation"), kIdCancel);
    PressInNextBox(Qt::Key_Return);
    EXPECT_EQ(desktop.MsgBox("You're sure?", 33, "Confirmation"), kIdOk);
    PressInNextBox(Qt::Key_Escape);
    EXPECT_EQ(desktop.MsgBox("Only one at a time!", 4096), kIdOk);
}

// A box without a window to open over (a second copy's) is centred on the
// screen.
TEST(QtDesktopTest, ABoxWithoutAWindowIsCentredOnTheScreen) {
    QtDesktop desktop(QStringLiteral("PS merge"));
    QPoint centre;
    bool placed = false;
    QTimer::singleShot(0, [&centre, &placed] {
        QWidget* box = QApplication::activeModalWidget();
        ASSERT_NE(box, nullptr);
        centre = box->geometry().center();
        // Placed by us, which window managers keep (Qt alone leaves it to
        // them, and openbox put it at the screen's corner).
        placed = box->testAttribute(Qt::WA_Moved);
        QTest::keyClick(box, Qt::Key_Return);
    });
    desktop.MsgBox("The application is already running!!! \r", 4112, "Error !");
    const QPoint screen = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((centre - screen).manhattanLength(), 4) << centre.x() << "," << centre.y();
    EXPECT_TRUE(placed);
}

TEST(QtDesktopTest, EndRunsTheCleanUpAndExitsAtOnce) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        QtDesktop desktop(QStringLiteral("PS merge"), [&] { (void)!::write(pipeFds[1], "c", 1); });
        desktop.End(3);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    char mark = 0;
    EXPECT_EQ(::read(pipeFds[0], &mark, 1), 1);
    EXPECT_EQ(mark, 'c');
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
}

// What the print dialog chose becomes CUPS's job options; a file chosen
// instead of a printer is named as it is.
TEST(QtDesktopTest, PrintChoicesBecomeCupsOptions) {
    using Options = std::vector<std::pair<std::string, std::string>>;
    const struct {
        int copies;
        QPrinter::DuplexMode duplex;
        bool gray;
        QPageSize::PageSizeId paper;
        QStringList dialogs;  // the dialog's own CUPS options
        Options expected;
    } cases[] = {
        {1,
         QPrinter::DuplexNone,
         false,
         QPageSize::A4,
         {},
         {{"copies", "1"}, {"sides", "one-sided"}, {"media", "A4"}}},
        {3,
         QPrinter::DuplexLongSide,
         true,
         QPageSize::A4,
         {"number-up", "2", "job-priority", "80"},
         {{"copies", "3"},
          {"collate", "true"},
          {"sides", "two-sided-long-edge"},
          {"print-color-mode", "monochrome"},
          {"media", "A4"},
          {"number-up", "2"},
          {"job-priority", "80"}}},
        {1,
         QPrinter::DuplexShortSide,
         false,
         QPageSize::Letter,
         {},
         {{"copies", "1"},
          {"sides", "two-sided-short-edge"},
          {"media", "Letter"},
          {"fit-to-page", "true"}}},
        {0,
         QPrinter::DuplexAuto,
         false,
         QPageSize::A4,
         {},
         {{"copies", "1"}, {"sides", "two-sided-long-edge"}, {"media", "A4"}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PrintOptionsFor(c.copies, true, c.duplex, c.gray, QPageSize(c.paper), c.dialogs),
                  c.expected)
            << ::testing::PrintToString(c.expected);
    }
    QPrinter toFile;
    toFile.setOutputFormat(QPrinter::PdfFormat);
    toFile.setOutputFileName(QStringLiteral("/tmp/sheet.pdf"));
    EXPECT_EQ(PrintChoiceOf(toFile).file, "/tmp/sheet.pdf");
}

TEST(QtDesktopFilterTest, PairsBecomeQtNameFilters) {
    EXPECT_EQ(QtNameFilters("Postscript (*.PS)|*.PS"), QStringList{"Postscript (*.PS)"});
    EXPECT_EQ(QtNameFilters("Text|*.txt;*.text|All (*)|*"),
              (QStringList{"Text (*.txt *.text)", "All (*)"}));
}

}  // namespace
}  // namespace a5merge
