#include "widgets/AppIcon.h"

#include <QPainter>
#include <QPainterPath>

namespace appicon {

QPixmap Pixmap(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 44.0, size / 44.0);
    // Battery body and terminal.
    p.setPen(QPen(Qt::black, 2));
    p.setBrush(QColor(0xF0, 0xE0, 0x60));
    p.drawRoundedRect(QRectF(4, 10, 32, 26), 3, 3);
    p.setBrush(Qt::black);
    p.drawRect(QRectF(36, 18, 4, 10));
    // A discharge curve across it.
    QPainterPath curve;
    curve.moveTo(7, 16);
    curve.cubicTo(16, 18, 24, 20, 28, 24);
    curve.lineTo(33, 33);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0xD0, 0, 0), 2.5));
    p.drawPath(curve);
    return pm;
}

QIcon Icon()
{
    QIcon icon;
    for (int s : {16, 32, 44, 64})
        icon.addPixmap(Pixmap(s));
    return icon;
}

} // namespace appicon
