#include "download/StatusIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <array>

namespace quillax {

namespace {

constexpr int kSide = 16;

QPixmap draw(int code) {
    QPixmap pixmap(kSide, kSide);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor blue(0x1e, 0x5a, 0xc8);
    switch (code) {
    case 1: // waiting: two upright bars
        p.fillRect(QRectF(3.5, 2.5, 3.5, 11), blue);
        p.fillRect(QRectF(9, 2.5, 3.5, 11), blue);
        break;
    case 2: { // downloading: a triangle pointing right
        QPainterPath path;
        path.moveTo(4, 2.5);
        path.lineTo(13.5, 8);
        path.lineTo(4, 13.5);
        path.closeSubpath();
        p.fillPath(path, blue);
        break;
    }
    case 3: { // finished: a green tick
        p.setPen(QPen(QColor(0x1f, 0x9d, 0x3a), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(3, 8.5), QPointF(6.5, 12), QPointF(13, 4)}));
        break;
    }
    case 4: // failed: a red cross
        p.setPen(QPen(QColor(0xd3, 0x2f, 0x2f), 2.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
        break;
    default:
        break;
    }
    return pixmap;
}

} // namespace

QIcon StatusIcon(int statusCode) {
    if (statusCode < 1 || statusCode > 4) {
        return {};
    }
    // Never destroyed: pixmaps must not outlive the GUI application, and the program needs the
    // icons until it ends.
    static auto* icons = new std::array<QIcon, 4>;
    QIcon& icon = (*icons)[static_cast<std::size_t>(statusCode - 1)];
    if (icon.isNull()) {
        icon = QIcon(draw(statusCode));
    }
    return icon;
}

} // namespace quillax
