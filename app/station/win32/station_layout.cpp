#include "app/station/win32/station_layout.h"

#include <algorithm>
#include <cmath>

namespace mub {

namespace {

// The widest state text, "升级中 100%", is about six characters of its
// font wide (the digits are about half as wide, the percent sign more).
constexpr int stateWidthTenths = 60;
// The state grows up to this many times the body where there is room.
constexpr int stateMaxTimes = 4;
// A tile's body font is at most a twelfth of its height and a sixteenth of
// its width (a detail of sixteen characters in a line).
constexpr int bodyPerHeight = 12, bodyPerWidth = 16;

// The machine and two lines of detail.
constexpr int textLines = 3;

int margin(const TileFonts& fonts) { return std::max(2, fonts.body / 2); }
int bodyLine(const TileFonts& fonts) { return fonts.body * 5 / 4 + 1; }
int stateLine(const TileFonts& fonts) { return fonts.state * 6 / 5; }
int barRow(const TileFonts& fonts) { return std::max(fonts.body, fonts.state / 3); }

} // namespace

TileGrid tileGrid(std::size_t count, int areaLeft, int areaTop, int areaWidth, int areaHeight, int gap) {
    TileGrid grid;
    grid.count = count;
    grid.left = areaLeft;
    grid.top = areaTop;
    grid.gap = gap;
    if (count == 0) return grid;
    grid.columns = std::max(1, static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count) * 1.5))));
    grid.columns = std::min(grid.columns, static_cast<int>(count));
    grid.rows = static_cast<int>((count + static_cast<std::size_t>(grid.columns) - 1) / static_cast<std::size_t>(grid.columns));
    grid.width = std::max(1, (areaWidth - gap) / grid.columns - gap);
    grid.height = std::max(1, (areaHeight - gap) / grid.rows - gap);
    return grid;
}

TileBox tileBox(const TileGrid& grid, std::size_t index) {
    const int column = static_cast<int>(index % static_cast<std::size_t>(grid.columns));
    const int row = static_cast<int>(index / static_cast<std::size_t>(grid.columns));
    return {grid.left + grid.gap + column * (grid.width + grid.gap), grid.top + grid.gap + row * (grid.height + grid.gap),
            grid.width, grid.height};
}

int tileAt(const TileGrid& grid, int x, int y) {
    if (grid.count == 0) return -1;
    const int cellX = x - grid.left - grid.gap, cellY = y - grid.top - grid.gap;
    if (cellX < 0 || cellY < 0) return -1;
    const int column = cellX / (grid.width + grid.gap), row = cellY / (grid.height + grid.gap);
    if (column >= grid.columns || cellX % (grid.width + grid.gap) >= grid.width ||
        cellY % (grid.height + grid.gap) >= grid.height)
        return -1;
    const std::size_t index = static_cast<std::size_t>(row) * static_cast<std::size_t>(grid.columns) +
                              static_cast<std::size_t>(column);
    return index < grid.count ? static_cast<int>(index) : -1;
}

TileFonts tileFonts(int bodyPixels, const TileGrid& grid) {
    // Large tiles (a few ports) get a larger body too, up to twice the
    // window's.
    const int body = std::clamp(std::min(grid.height / bodyPerHeight, grid.width / bodyPerWidth), bodyPixels,
                                bodyPixels * 2);
    TileFonts fonts{body, 2 * body};
    const int fixed = tileHeightNeeded(fonts) - stateLine(fonts);
    const int byHeight = (grid.height - fixed) * 5 / 6;
    const int byWidth = (grid.width - 2 * margin(fonts)) * 10 / stateWidthTenths;
    fonts.state = std::clamp(std::min(byHeight, byWidth), 2 * body, stateMaxTimes * body);
    return fonts;
}

TileRows tileRows(const TileFonts& fonts, const TileBox& box) {
    TileRows rows;
    rows.margin = margin(fonts);
    rows.bodyLine = bodyLine(fonts);
    rows.nameTop = box.top + rows.margin;
    rows.bottom = box.top + box.height - rows.margin;
    const int room = box.height - tileHeightNeeded(fonts);
    rows.stateTop = rows.nameTop + rows.bodyLine + std::max(0, room / 2);
    rows.stateLine = stateLine(fonts);
    rows.barTop = rows.stateTop + rows.stateLine + barRow(fonts) / 4;
    rows.barHeight = barRow(fonts) / 2;
    rows.linesTop = rows.stateTop + rows.stateLine + barRow(fonts);
    rows.lines = std::clamp((rows.bottom - rows.linesTop) / rows.bodyLine, 0, textLines);
    return rows;
}

int tileHeightNeeded(const TileFonts& fonts) {
    return 2 * margin(fonts) + (1 + textLines) * bodyLine(fonts) + stateLine(fonts) + barRow(fonts);
}

} // namespace mub
