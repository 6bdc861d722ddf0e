// One port's tile in the Qt station window: its colour, the port, the state
// in large letters, the progress bar, the machine and a line of detail. A
// click starts or stops the port.
#pragma once

#include "station/station_window.h"

#include <QWidget>

#include <functional>

namespace mub {

class StationTileWidget : public QWidget {
public:
    StationTileWidget(std::function<void()> onClick, QWidget* parent = nullptr);
    void show(const StationTile& tile);
    const StationTile& tile() const { return tile_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    std::function<void()> onClick_;
    StationTile tile_;
    bool shown_ = false;
};

// A GBK text of the logic for Qt.
QString shownText(const std::string& gbkText);

// The background of a tile's colour.
QColor tileBackground(TileColour colour);

} // namespace mub
