#include "frontend/ui/logo.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace vekmrk {

QPixmap productLogo(const QSize& size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);

    const QRectF tile = QRectF(QPointF(0, 0), QSizeF(size)).adjusted(2, 2, -2, -2);
    const double unit = std::min(tile.width(), tile.height());
    QLinearGradient background(tile.topLeft(), tile.bottomRight());
    background.setColorAt(0.0, QColor(0x1c, 0x4e, 0x9a));
    background.setColorAt(1.0, QColor(0x0b, 0x24, 0x4f));
    painter.setPen(Qt::NoPen);
    painter.setBrush(background);
    painter.drawRoundedRect(tile, unit * 0.12, unit * 0.12);

    // A sound wave across the tile, its loudness rising and falling.
    QPainterPath wave;
    const double mid = tile.center().y();
    const int steps = 160;
    for (int i = 0; i <= steps; ++i) {
        const double t = static_cast<double>(i) / steps;
        const double x = tile.left() + unit * 0.08 + t * (tile.width() - unit * 0.16);
        const double envelope = std::sin(t * 3.14159265358979) * 0.32;
        const double y = mid - unit * envelope * std::sin(t * 2 * 3.14159265358979 * 6.0);
        if (i == 0) {
            wave.moveTo(x, y);
        } else {
            wave.lineTo(x, y);
        }
    }
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0x7f, 0xd3, 0xff), std::max(1.0, unit * 0.025)));
    painter.drawPath(wave);

    // The "V" mark over the wave.
    QPainterPath mark;
    mark.moveTo(tile.center().x() - unit * 0.30, tile.top() + unit * 0.18);
    mark.lineTo(tile.center().x(), tile.bottom() - unit * 0.16);
    mark.lineTo(tile.center().x() + unit * 0.30, tile.top() + unit * 0.18);
    QPen markPen(Qt::white, std::max(2.0, unit * 0.09));
    markPen.setCapStyle(Qt::RoundCap);
    markPen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(markPen);
    painter.drawPath(mark);
    return pixmap;
}

} // namespace vekmrk
