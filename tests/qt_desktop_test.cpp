#include "app/qt_desktop.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
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

TEST(QtDesktopFilterTest, PairsBecomeQtNameFilters) {
    EXPECT_EQ(QtNameFilters("Postscript (*.PS)|*.PS"), QStringList{"Postscript (*.PS)"});
    EXPECT_EQ(QtNameFilters("Text|*.txt;*.text|All (*)|*"),
              (QStringList{"Text (*.txt *.text)", "All (*)"}));
}

}  // namespace
}  // namespace a5merge
