#include "app/icon.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <map>

namespace a5merge {

QImage PaintIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);

    // An A4 sheet, portrait, on a 32 unit square.
    const QRectF sheet(6.5, 1.5, 19.0, 29.0);
    p.setPen(QPen(QColor(0x44, 0x44, 0x44), 1.0));
    p.setBrush(Qt::white);
    p.drawRect(sheet);

    // The fold between the two A5 halves.
    p.setPen(QPen(QColor(0x88, 0x88, 0x88), 0.8, Qt::DashLine));
    p.drawLine(QPointF(sheet.left() + 1, 16.0), QPointF(sheet.right() - 1, 16.0));

    // Top half: a blue drawing.
    p.setPen(QPen(QColor(0x1f, 0x5f, 0xbf), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath top;
    top.moveTo(9.5, 13.0);
    top.lineTo(13.5, 5.0);
    top.lineTo(17.0, 10.5);
    top.lineTo(19.5, 7.0);
    top.lineTo(22.5, 13.0);
    p.drawPath(top);

    // Bottom half: an orange drawing.
    p.setPen(QPen(QColor(0xd9, 0x6a, 0x0b), 1.6));
    p.drawEllipse(QPointF(12.5, 23.0), 3.5, 3.5);
    p.drawRect(QRectF(16.5, 19.5, 6.0, 7.0));
    p.end();
    return image;
}

namespace {

// Paints each size the first time it is asked for, and only then.
class PaintedIconEngine : public QIconEngine {
public:
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = std::min(size.width(), size.height());
        auto cached = pixmaps_.find(side);
        if (cached == pixmaps_.end()) {
            cached = pixmaps_.emplace(side, QPixmap::fromImage(PaintIcon(side))).first;
        }
        return cached->second;
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        QList<QSize> sizes;
        for (int side : kIconSizes) sizes.append(QSize(side, side));
        return sizes;
    }

    QIconEngine* clone() const override { return new PaintedIconEngine(*this); }

private:
    std::map<int, QPixmap> pixmaps_;
};

}  // namespace

QIcon AppIcon() {
    static const QIcon icon(new PaintedIconEngine);
    return icon;
}

}  // namespace a5merge
