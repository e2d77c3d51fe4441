// The yardstick of the window's start: an empty Qt Widgets window of the
// same size as the program's, shown at once.

#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("empty"));
    window.setFixedSize(161, 335);
    window.show();
    return QApplication::exec();
}
