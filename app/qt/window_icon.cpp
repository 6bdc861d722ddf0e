#include "app/qt/window_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace mub {

namespace {

// A chip with an upward arrow: firmware going up into a machine.
void drawChip(QPainter& painter, const QRectF& box) {
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(box.topLeft(), box.bottomRight());
    fill.setColorAt(0, QColor(0x2b, 0x6c, 0xb0));
    fill.setColorAt(1, QColor(0x14, 0x3d, 0x6b));
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(box, box.width() * 0.18, box.height() * 0.18);

    QPainterPath arrow;
    qreal cx = box.center().x();
    qreal w = box.width();
    qreal h = box.height();
    arrow.moveTo(cx, box.top() + h * 0.18);
    arrow.lineTo(cx + w * 0.28, box.top() + h * 0.50);
    arrow.lineTo(cx + w * 0.10, box.top() + h * 0.50);
    arrow.lineTo(cx + w * 0.10, box.top() + h * 0.82);
    arrow.lineTo(cx - w * 0.10, box.top() + h * 0.82);
    arrow.lineTo(cx - w * 0.10, box.top() + h * 0.50);
    arrow.lineTo(cx - w * 0.28, box.top() + h * 0.50);
    arrow.closeSubpath();
    painter.setBrush(QColor(0xf2, 0xc1, 0x2e));
    painter.drawPath(arrow);
}

} // namespace

QIcon programIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    drawChip(painter, QRectF(1, 1, 30, 30));
    painter.end();
    return QIcon(pixmap);
}

QPixmap aboutBanner(const QSize& size) {
    QPixmap pixmap(size);
    pixmap.fill(QColor(0xf4, 0xf6, 0xfa));
    QPainter painter(&pixmap);
    qreal side = std::min(size.width(), size.height()) * 0.8;
    drawChip(painter, QRectF((size.width() - side) / 2, (size.height() - side) / 2, side, side));
    painter.end();
    return pixmap;
}

} // namespace mub
