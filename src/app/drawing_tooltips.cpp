#include "app/drawing_tooltips.h"

#include <QBuffer>
#include <QFile>

#include "app/preview_window.h"
#include "ghostscript/ghostscript.h"
#include "ghostscript/sheet_output.h"

namespace a5merge {

namespace {

struct Drawn {
    std::string path;
    FileStamp stamp;
    RenderedPage page;
};

QString DataUrl(const QImage& picture) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png.toBase64());
}

}  // namespace

DrawingTooltips::DrawingTooltips(const Ghostscript& ghostscript, double pixelRatio, QObject* parent)
    : QObject(parent), ghostscript_(ghostscript), pixelRatio_(pixelRatio), run_(this, false) {}

QString DrawingTooltips::For(const QString& zone, const std::string& path) {
    const QString name = QFile::decodeName(path.c_str());
    QString text = QStringLiteral("<b>%1</b>: %2").arg(zone, name.toHtmlEscaped());
    const std::optional<FileStamp> stamp = StampOf(path);
    if (!ghostscript_.Found()) {
        return text + QStringLiteral("<br>(") +
               QString::fromLatin1(kGhostscriptMissing).toHtmlEscaped() + QStringLiteral(")");
    }
    if (!stamp) return text;

    const auto cached = cache_.find(path);
    if (cached != cache_.end() && cached->second.stamp == *stamp) {
        const Entry& entry = cached->second;
        if (!entry.failure.isEmpty()) {
            return text + QStringLiteral("<br>") + entry.failure.toHtmlEscaped();
        }
        const QSize shown = (QSizeF(entry.picture.size()) / pixelRatio_).toSize();
        return text + QStringLiteral("<br><img src=\"%1\" width=\"%2\" height=\"%3\">")
                          .arg(DataUrl(entry.picture))
                          .arg(shown.width())
                          .arg(shown.height());
    }
    if (pending_.insert({path, stamp->changedNs}).second) {
        ++renders_;
        const Ghostscript& ghostscript = ghostscript_;
        const double dotsPerInch = kWidth * pixelRatio_ * 72.0 / 595.0;
        const FileStamp now = *stamp;
        run_.Start<Drawn>(
            [&ghostscript, path, now, dotsPerInch](const std::atomic<bool>& cancel) {
                return Drawn{path, now, RenderDrawing(ghostscript, path, dotsPerInch, &cancel)};
            },
            [this](Drawn drawn) {
                pending_.erase({drawn.path, drawn.stamp.changedNs});
                Entry entry{drawn.stamp, {}, {}};
                if (drawn.page.ok) {
                    entry.picture = ImageOf(drawn.page.page);
                } else {
                    entry.failure = QString::fromStdString(drawn.page.failure);
                }
                cache_[drawn.path] = entry;
                emit rendered(drawn.path);
            });
    }
    return text + QStringLiteral("<br>(drawing...)");
}

}  // namespace a5merge
