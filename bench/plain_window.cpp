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
#include <QRect>
#include <QWidget>

namespace {

QFont Tahoma(qreal points, bool bold) {
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSizeF(points);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    return font;
}

// A label of Qt's own at `place` in `parent`, which owns it.
void AddLabel(const char* text, QWidget* parent, const QRect& place, const QFont& font) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setGeometry(place);
    label->setFont(font);
}

// A drop zone as a plain group box with its big caption.
void AddZone(QWidget* window, int y, const char* caption, const QRect& captionPlace) {
    auto* zone = new QGroupBox(QStringLiteral("Drag/Drop"), window);
    zone->setGeometry(8, y, 145, 89);
    AddLabel(caption, zone, captionPlace, Tahoma(20.25, true));
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
    AddLabel("Korvalith Postscript Merge", &window, {8, 8, 153, 17}, Tahoma(8.25, true));
    AddLabel("2x A5  -->  1x A4", &window, {24, 24, 113, 25}, Tahoma(9.75, true));
    AddZone(&window, 56, "TOP", {40, 32, 73, 33});
    AddZone(&window, 152, "BOTTOM", {8, 32, 129, 41});
    QPushButton merge(QStringLiteral("MERGE + SAVE"), &window);
    merge.setGeometry(32, 256, 97, 25);
    QPushButton exit(QStringLiteral("EXIT"), &window);
    exit.setGeometry(32, 296, 97, 25);
    window.show();
    return QApplication::exec();
}
