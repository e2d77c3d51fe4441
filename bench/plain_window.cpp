// The yardstick of the window's start: the same window written the obvious
// way, with Qt's own widgets at the same places, the same texts and fonts
// (Wine's Tahoma registered), and nothing else: no lock, no files, no icon,
// no drops, menus or accessibility texts.

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

namespace {

QFont Tahoma(qreal points, bool bold) {
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSizeF(points);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    return font;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (!QFontDatabase::hasFamily(QStringLiteral("Tahoma"))) {
        QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"));
    }
    QWidget window;
    window.setWindowTitle(QStringLiteral("PS merge"));
    window.setFont(Tahoma(8.25, false));
    window.setFixedSize(161, 335);
    QLabel korva(QStringLiteral("Korvalith Postscript Merge"), &window);
    korva.setGeometry(8, 8, 153, 17);
    korva.setFont(Tahoma(8.25, true));
    QLabel a5(QStringLiteral("2x A5  -->  1x A4"), &window);
    a5.setGeometry(24, 24, 113, 25);
    a5.setFont(Tahoma(9.75, true));
    QGroupBox top(QStringLiteral("Drag/Drop"), &window);
    top.setGeometry(8, 56, 145, 89);
    QLabel topLabel(QStringLiteral("TOP"), &top);
    topLabel.setGeometry(40, 32, 73, 33);
    topLabel.setFont(Tahoma(20.25, true));
    QGroupBox bottom(QStringLiteral("Drag/Drop"), &window);
    bottom.setGeometry(8, 152, 145, 89);
    QLabel bottomLabel(QStringLiteral("BOTTOM"), &bottom);
    bottomLabel.setGeometry(8, 32, 129, 41);
    bottomLabel.setFont(Tahoma(20.25, true));
    QPushButton merge(QStringLiteral("MERGE + SAVE"), &window);
    merge.setGeometry(32, 256, 97, 25);
    QPushButton exit(QStringLiteral("EXIT"), &window);
    exit.setGeometry(32, 296, 97, 25);
    window.show();
    return QApplication::exec();
}
