#include "app/drawing_tooltips.h"

#include <QBuffer>
#include <QFile>

#include "app/preview_window.h"
#include "ghostscript/ghostscript.h"
#include "ghostscript/sheet_output.h"

namespace a5merge {

namespace {

QString DataUrl(const QImage& picture) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png.toBase64());
}

}  // namespace

DrawingTooltips::DrawingTooltips(const Ghostscript& ghostscript, double pixelRatio, QObject* parent)
    : QObject(parent),
      ghostscript_(ghostscript),
      pixelRatio_(pixelRatio),
      renders_(ghostscript, kWidth * pixelRatio * 72.0 / kSheetWidth, PostTo(this),
               [this](const std::string& path) { emit rendered(path); }) {}

QString DrawingTooltips::For(const QString& zone, const std::string& path) {
    const QString name = QFile::decodeName(path.c_str());
    QString text = QStringLiteral("<b>%1</b>: %2").arg(zone, name.toHtmlEscaped());
    if (!ghostscript_.Found()) {
        return text + QStringLiteral("<br>(") +
               QString::fromLatin1(kGhostscriptMissing).toHtmlEscaped() + QStringLiteral(")");
    }
    const RenderedPage* drawn = renders_.For(path);
    if (drawn == nullptr) return StampOf(path) ? text + QStringLiteral("<br>(drawing...)") : text;
    if (!drawn->ok) {
        return text + QStringLiteral("<br>") + QString::fromStdString(drawn->failure).toHtmlEscaped();
    }
    const QImage picture = ImageOf(drawn->page);
    const QSize shown = (QSizeF(picture.size()) / pixelRatio_).toSize();
    return text + QStringLiteral("<br><img src=\"%1\" width=\"%2\" height=\"%3\">")
                      .arg(DataUrl(picture))
                      .arg(shown.width())
                      .arg(shown.height());
}

}  // namespace a5merge
