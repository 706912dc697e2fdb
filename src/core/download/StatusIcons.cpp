#include "core/download/StatusIcons.h"

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
    case kWebPageMark: { // a web page: an orange sheet with "<>" on it
        const QColor orange(0xe0, 0x7b, 0x00);
        p.setPen(QPen(orange, 1.4));
        p.drawRoundedRect(QRectF(2.5, 1.5, 11, 13), 1.5, 1.5);
        p.setPen(QPen(orange, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(7, 5.5), QPointF(4.8, 8), QPointF(7, 10.5)}));
        p.drawPolyline(QPolygonF({QPointF(9, 5.5), QPointF(11.2, 8), QPointF(9, 10.5)}));
        break;
    }
    case kSkippedMark: { // skipped: a grey arrow jumping over a bar
        const QColor grey(0x75, 0x75, 0x75);
        p.setPen(QPen(grey, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        QPainterPath arc;
        arc.moveTo(2.5, 11);
        arc.cubicTo(3.5, 3, 11, 3, 12.5, 9);
        p.drawPath(arc);
        p.drawPolyline(QPolygonF({QPointF(9.5, 8), QPointF(12.5, 9.5), QPointF(14, 6.5)}));
        p.drawLine(QPointF(7.5, 9.5), QPointF(7.5, 14));
        break;
    }
    case kSuspectMark: { // content in doubt: an amber triangle with "!"
        const QColor amber(0xf2, 0xa9, 0x00);
        QPainterPath triangle;
        triangle.moveTo(8, 1.5);
        triangle.lineTo(15, 14.5);
        triangle.lineTo(1, 14.5);
        triangle.closeSubpath();
        p.fillPath(triangle, amber);
        p.setPen(QPen(Qt::black, 1.8, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8, 6), QPointF(8, 10));
        p.drawPoint(QPointF(8, 12.6));
        break;
    }
    default:
        break;
    }
    return pixmap;
}

} // namespace

QIcon StatusIcon(int statusCode) {
    if (statusCode < 1 || statusCode > kSuspectMark) {
        return {};
    }
    // Never destroyed: pixmaps must not outlive the GUI application, and the program needs the
    // icons until it ends.
    static auto* icons = new std::array<QIcon, kSuspectMark>;
    QIcon& icon = (*icons)[static_cast<std::size_t>(statusCode - 1)];
    if (icon.isNull()) {
        icon = QIcon(draw(statusCode));
    }
    return icon;
}

} // namespace quillax
