// Where the station window puts its tiles, and how large a tile's texts
// are: a grid about one and a half times as many columns as rows that fills
// the tile area, the tiles shrinking as ports are added, and the rows of a
// tile from its fonts. Pixels; no window calls, so that the rules are
// tested without a window.
#pragma once

#include <cstddef>

namespace mub {

struct TileBox {
    int left = 0, top = 0, width = 0, height = 0;
};

struct TileGrid {
    std::size_t count = 0;
    int columns = 1, rows = 0;
    int left = 0, top = 0;      // the area's corner
    int width = 0, height = 0;  // one tile
    int gap = 0;                // between tiles and around them
};

// `count` tiles in the area, ceil(sqrt(count * 1.5)) columns.
TileGrid tileGrid(std::size_t count, int areaLeft, int areaTop, int areaWidth, int areaHeight, int gap);
TileBox tileBox(const TileGrid& grid, std::size_t index);
// The tile under a point, or -1 (a gap, or no tile there).
int tileAt(const TileGrid& grid, int x, int y);

// Font heights of the tiles, in pixels: `body` (at least `bodyPixels`,
// the window's font, at most twice that) for the port's name (in bold),
// the machine and the detail; `state` for the state, read from two metres
// away: at least twice the body, both larger where the tiles have room.
struct TileFonts {
    int body = 0;
    int state = 0;
};
TileFonts tileFonts(int bodyPixels, const TileGrid& grid);

// The rows of a tile from the top of its box: the name line, the state, the
// progress bar, then up to three lines for the machine and the detail
// (`lines`: as many as the tile has room for; a large tile's rows below the
// name stand in the middle of the room left over).
struct TileRows {
    int margin = 0;
    int bodyLine = 0;
    int nameTop = 0;
    int stateTop = 0, stateLine = 0;
    int barTop = 0, barHeight = 0;
    int linesTop = 0;
    int lines = 0;
    int bottom = 0;
};
TileRows tileRows(const TileFonts& fonts, const TileBox& box);
// The height a tile needs to show every row.
int tileHeightNeeded(const TileFonts& fonts);

} // namespace mub
