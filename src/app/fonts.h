#pragma once

#include <QFont>
#include <QString>

namespace a5merge {

// Debian's fonts-wine ships a Tahoma with the metrics the window is drawn for.
inline const QString kWineFontFolder = QStringLiteral("/usr/share/wine/fonts");

// Makes Tahoma available: registers its regular face from `folder` when the
// system has none; bold is the regular face emboldened. Returns the ids of the fonts registered
// (empty when none was needed or none was found).
QList<int> RegisterTahoma(const QString& folder = kWineFontFolder);

// Tahoma at `points`, weight 400 or 700; the system's sans font stands in
// when there is no Tahoma.
QFont Tahoma(qreal points, bool bold);

}  // namespace a5merge
