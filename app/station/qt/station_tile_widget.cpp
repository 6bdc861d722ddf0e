#include "app/station/qt/station_tile_widget.h"

#include "platform/gbk_text.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace mub {
namespace {

bool sameTile(const StationTile& a, const StationTile& b) {
    return a.port == b.port && a.machine == b.machine && a.state == b.state && a.detail == b.detail &&
           a.colour == b.colour && a.percent == b.percent && a.running == b.running;
}

} // namespace

QString shownText(const std::string& gbkText) { return QString::fromStdString(utf8(gbkText)); }

QColor tileBackground(TileColour colour) {
    switch (colour) {
    case TileColour::Grey: return QColor(0xD9, 0xD9, 0xD9);
    case TileColour::Blue: return QColor(0x9C, 0xC3, 0xE6);
    case TileColour::Amber: return QColor(0xFF, 0xD9, 0x66);
    case TileColour::Green: return QColor(0xA9, 0xD1, 0x8E);
    case TileColour::Red: return QColor(0xFF, 0x7C, 0x80);
    }
    return Qt::lightGray;
}

StationTileWidget::StationTileWidget(std::function<void()> onClick, QWidget* parent)
    : QWidget(parent), onClick_(std::move(onClick)) {
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void StationTileWidget::show(const StationTile& tile) {
    if (shown_ && sameTile(tile, tile_)) return;
    tile_ = tile;
    shown_ = true;
    setAccessibleName(shownText(tile.port + " " + tile.state));
    update();
}

QSize StationTileWidget::sizeHint() const {
    const int line = fontMetrics().height();
    return {line * 14, line * 8};
}

QSize StationTileWidget::minimumSizeHint() const {
    const int line = fontMetrics().height();
    return {line * 9, line * 6};
}

void StationTileWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) onClick_();
}

void StationTileWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect area = rect().adjusted(2, 2, -2, -2);
    painter.fillRect(rect(), palette().window());
    painter.fillRect(area, tileBackground(tile_.colour));
    painter.setPen(QPen(tile_.running ? QColor(0x40, 0x40, 0x40) : QColor(0x90, 0x90, 0x90), 2));
    painter.drawRect(area);

    const int margin = fontMetrics().height() / 3;
    QRect inner = area.adjusted(margin, margin, -margin, -margin);
    QFont body = font();
    QFont bold = body;
    bold.setBold(true);
    // The state is read from two metres: at least twice the body font, and
    // larger where the tile has room (few ports).
    QFont large = bold;
    const int bodyPixels = QFontMetrics(body).height();
    const int roomy = std::min(inner.height() / 4, inner.width() / 7);
    large.setPixelSize(std::max(bodyPixels * 2, roomy));

    painter.setPen(Qt::black);
    painter.setFont(bold);
    const int line = QFontMetrics(bold).height();
    painter.drawText(QRect(inner.left(), inner.top(), inner.width(), line), Qt::AlignLeft | Qt::AlignVCenter,
                     shownText(tile_.port));
    painter.setFont(body);
    painter.drawText(QRect(inner.left(), inner.top(), inner.width(), line), Qt::AlignRight | Qt::AlignVCenter,
                     QString::fromUtf8(tile_.running ? "点击停止" : "点击开始"));
    int y = inner.top() + line;

    const QString state = shownText(tile_.state);
    // Narrow tiles (many ports) take the state as large as it fits.
    const int wide = QFontMetrics(large).horizontalAdvance(state);
    if (wide > inner.width())
        large.setPixelSize(std::max(bodyPixels * 2, large.pixelSize() * inner.width() / wide));
    painter.setFont(large);
    const int largeLine = QFontMetrics(large).height();
    painter.drawText(QRect(inner.left(), y, inner.width(), largeLine), Qt::AlignLeft | Qt::AlignVCenter, state);
    y += largeLine;

    if (tile_.percent >= 0) {
        // The bar, with its percent to the right of it.
        painter.setFont(bold);
        const QString percent = QStringLiteral("%1%").arg(tile_.percent);
        const int percentWidth = QFontMetrics(bold).horizontalAdvance(QStringLiteral("100%"));
        const int barHeight = line / 2;
        const QRect bar(inner.left(), y + line / 4, std::max(0, inner.width() - percentWidth - margin), barHeight);
        painter.fillRect(bar, QColor(0xF2, 0xF2, 0xF2));
        painter.fillRect(QRect(bar.left(), bar.top(), bar.width() * tile_.percent / 100, bar.height()),
                         QColor(0x1F, 0x4E, 0x79));
        painter.drawText(QRect(inner.right() - percentWidth, y, percentWidth, line), Qt::AlignRight | Qt::AlignVCenter,
                         percent);
        y += line;
    }

    painter.setFont(body);
    const int bodyLine = QFontMetrics(body).height();
    const QFontMetrics metrics(body);
    if (!tile_.machine.empty() && y + bodyLine <= inner.bottom() + 1) {
        painter.drawText(QRect(inner.left(), y, inner.width(), bodyLine), Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(shownText(tile_.machine), Qt::ElideRight, inner.width()));
        y += bodyLine;
    }
    // The detail (a failure's reason among them) wraps over the rest.
    if (!tile_.detail.empty() && y < inner.bottom())
        painter.drawText(QRect(inner.left(), y, inner.width(), inner.bottom() - y), Qt::AlignLeft | Qt::TextWordWrap,
                         shownText(tile_.detail));
}

} // namespace mub
