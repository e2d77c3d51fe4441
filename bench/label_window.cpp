// A second yardstick of the window's start: the empty window with one label,
// the least a window that shows any text pays (its fonts are looked up).

#include <QApplication>
#include <QLabel>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("label"));
    window.setFixedSize(161, 335);
    QLabel label(QStringLiteral("TOP"), &window);
    window.show();
    return QApplication::exec();
}
