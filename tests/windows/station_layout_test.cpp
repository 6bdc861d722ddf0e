// The station window's tile grid: columns by the port count, every tile in
// the area without overlap, clicks to the right tile, and the state text at
// least twice the body (24 ports at 1024x768 still show every row).
#include "app/station/win32/station_layout.h"

#include <gtest/gtest.h>

namespace mub {
namespace {

TEST(StationLayout, ColumnsGrowWithThePortsAndTilesFillTheAreaWithoutOverlap) {
    const std::pair<std::size_t, int> columns[] = {{1, 1}, {2, 2}, {4, 3}, {8, 4}, {24, 6}, {25, 7}};
    for (auto [count, expected] : columns) {
        const TileGrid grid = tileGrid(count, 10, 50, 1024, 600, 4);
        EXPECT_EQ(grid.columns, expected) << count;
        EXPECT_EQ(static_cast<std::size_t>(grid.rows), (count + grid.columns - 1) / grid.columns) << count;
        for (std::size_t i = 0; i < count; ++i) {
            const TileBox box = tileBox(grid, i);
            EXPECT_GE(box.left, 10);
            EXPECT_GE(box.top, 50);
            EXPECT_LE(box.left + box.width, 10 + 1024) << count << " " << i;
            EXPECT_LE(box.top + box.height, 50 + 600) << count << " " << i;
            if (i + 1 < count && (i + 1) % grid.columns != 0) {
                EXPECT_LT(box.left + box.width, tileBox(grid, i + 1).left);
            }
        }
    }
}

TEST(StationLayout, AClickFindsItsTileAndAGapOrAnEmptyCellNone) {
    const TileGrid grid = tileGrid(4, 0, 100, 900, 600, 6); // 3 columns, 2 rows
    for (std::size_t i = 0; i < 4; ++i) {
        const TileBox box = tileBox(grid, i);
        EXPECT_EQ(tileAt(grid, box.left + box.width / 2, box.top + box.height / 2), static_cast<int>(i));
        EXPECT_EQ(tileAt(grid, box.left, box.top), static_cast<int>(i));
        EXPECT_EQ(tileAt(grid, box.left + box.width - 1, box.top + box.height - 1), static_cast<int>(i));
        EXPECT_EQ(tileAt(grid, box.left + box.width, box.top + 5), -1) << "the gap after " << i;
    }
    const TileBox fifthCell = tileBox(grid, 4);
    EXPECT_EQ(tileAt(grid, fifthCell.left + 5, fifthCell.top + 5), -1);
    EXPECT_EQ(tileAt(grid, 10, 99), -1);
    EXPECT_EQ(tileAt(tileGrid(0, 0, 0, 900, 600, 6), 10, 10), -1);
}

TEST(StationLayout, TheStateIsAtLeastTwiceTheBodyAndTwentyFourTilesShowEveryRow) {
    // The tile area of a maximised window at 1024x768, at 96 and 144 DPI:
    // every row, or the name, the state, the bar and a line for the detail.
    for (const auto& [body, lines] : {std::pair{12, 3}, std::pair{18, 1}}) {
        const TileGrid grid = tileGrid(24, 0, 0, 1024, body == 12 ? 600 : 540, body / 3);
        const TileFonts fonts = tileFonts(body, grid);
        EXPECT_GE(fonts.body, body);
        EXPECT_GE(fonts.state, 2 * fonts.body);
        const TileRows rows = tileRows(fonts, tileBox(grid, 23));
        EXPECT_GE(rows.lines, lines) << body;
        EXPECT_LE(rows.linesTop + rows.lines * rows.bodyLine, rows.bottom);
        EXPECT_LE(rows.stateTop + rows.stateLine, rows.barTop);
        EXPECT_LE(rows.barTop + rows.barHeight, rows.linesTop);
    }
    // Four ports: larger texts, within their limits.
    const TileFonts large = tileFonts(12, tileGrid(4, 0, 0, 1024, 600, 4));
    EXPECT_GT(large.state, 2 * large.body);
    EXPECT_LE(large.state, 4 * large.body);
    EXPECT_LE(large.body, 24);
    // No room at all: the sizes stay readable, the rows that do not fit go.
    const TileFonts cramped = tileFonts(12, tileGrid(24, 0, 0, 300, 200, 4));
    EXPECT_EQ(cramped.body, 12);
    EXPECT_EQ(cramped.state, 24);
    EXPECT_EQ(tileRows(cramped, tileBox(tileGrid(24, 0, 0, 300, 200, 4), 0)).lines, 0);
}

} // namespace
} // namespace mub
