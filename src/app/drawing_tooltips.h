#pragma once

#include <QImage>
#include <QObject>
#include <QString>

#include <string>

#include "handlers/sheet_preview.h"

namespace a5merge {

class Ghostscript;

// The tooltip of a zone that holds a file: its name and a small render of
// the half page it draws, so that one sees at once which drawing is where.
// Renders run in the background, are kept by path, size and modification
// time, and are made again only when one of those changes.
class DrawingTooltips : public QObject {
    Q_OBJECT

public:
    // Width of the render, in the screen's logical pixels.
    static constexpr int kWidth = 180;

    DrawingTooltips(const Ghostscript& ghostscript, double pixelRatio, QObject* parent = nullptr);

    // The tooltip for zone `zone` ("TOP") holding `path` (bytes): rich text
    // with the picture once it is rendered; a render is started when there
    // is none for the file as it is now.
    QString For(const QString& zone, const std::string& path);

    // How many renders were made (not taken from the cache).
    int renders() const { return renders_.renders(); }

signals:
    // A render for `path` is done: its tooltip has changed.
    void rendered(const std::string& path);

private:
    const Ghostscript& ghostscript_;
    double pixelRatio_;
    DrawingRenders renders_;
};

}  // namespace a5merge
