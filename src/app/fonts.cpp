#include "app/fonts.h"

#include <QFileInfo>
#include <QFontDatabase>

namespace a5merge {

QList<int> RegisterTahoma(const QString& folder) {
    QList<int> ids;
    if (QFontDatabase::hasFamily(QStringLiteral("Tahoma"))) return ids;
    // Only the regular face: Wine's tahomabd.ttf has the regular outlines,
    // only spaced wider (its bitmaps alone are bold), so Qt would draw bold
    // captions regular. Without it, Qt emboldens the regular face.
    for (const char* file : {"tahoma.ttf"}) {
        const QString path = folder + QLatin1Char('/') + QLatin1String(file);
        if (!QFileInfo::exists(path)) continue;
        const int id = QFontDatabase::addApplicationFont(path);
        if (id >= 0) ids.append(id);
    }
    return ids;
}

QFont Tahoma(qreal points, bool bold) {
    QFont font;
    font.setFamilies({QStringLiteral("Tahoma")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    return font;
}

}  // namespace a5merge
