// The station's Win32 window: a view over StationWindow. The top row (the
// file line and the buttons), the tile area (one tile per port, drawn here,
// a click starts or stops its port, and the totals under the tiles), and
// the status bar (the latest notice, how F8 is taken, production mode).
// Texts come from the logic in GBK and become UTF-16 at this edge.
//
// Everything runs on the window's thread; the ports' I/O runs on the
// station's own threads, so no message waits for a port. A 200 ms timer
// calls tick() and redraws what changed. Closing (or the end of the
// session) stops every port and waits, still handling messages, until
// each has logged its machine.
#pragma once

#include "app/key_repeat_filter.h"
#include "app/station/win32/station_layout.h"
#include "station/station_window.h"

#include <windows.h>

#include <string>
#include <vector>

namespace mub {

class StationFrame {
public:
    explicit StationFrame(StationWindow& station);
    ~StationFrame();
    StationFrame(const StationFrame&) = delete;
    StationFrame& operator=(const StationFrame&) = delete;

    // Creates the window and shows it (`show` from wWinMain); false with
    // the system's reason when it cannot be made.
    bool create(int show, std::string& error);
    // Handles messages until the window has gone; the program's exit code.
    int run();

private:
    static constexpr UINT_PTR tickTimer = 1, hotKeyReleaseTimer = 2;
    static constexpr int hotKeyId = 1;
    enum : int { IdFileLine = 200, IdOpen, IdToggle, IdReset, IdLock, IdStatus };

    struct Fonts {
        HFONT body = nullptr, bold = nullptr, small = nullptr, state = nullptr, totals = nullptr;
    };

    static LRESULT CALLBACK frameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK tilesProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleTiles(UINT message, WPARAM wParam, LPARAM lParam);

    void makeControls();
    void layOut();
    void layTiles();
    void refresh();
    void setStatusParts();
    void paintTiles(HDC dc, const RECT& client);
    void paintTile(HDC dc, const StationTile& tile, const TileBox& box);

    void command(int id);
    void openFile();
    void lockOrUnlock();
    void toggleAll();
    void hotKeyPressed();
    // Stops every port and handles messages until none runs (10 s at most).
    void stopAndWait();
    void closeWindow();
    void errorBox(const std::string& gbkText);

    HFONT makeFont(int pixels, bool bold) const;
    void deleteFonts(Fonts& fonts);
    int textWidth(HFONT font, const std::wstring& text) const;
    HWND item(int id) const { return ::GetDlgItem(window_, id); }
    void setText(int id, const std::wstring& text);

    StationWindow& station_;
    HWND window_ = nullptr;
    HWND tiles_ = nullptr;
    LOGFONTW messageFont_{};
    int bodyPixels_ = 12;
    HFONT uiFont_ = nullptr;
    Fonts fonts_;
    TileGrid grid_;
    TileFonts tileFonts_;
    int totalsTop_ = 0;
    bool percentBesideBar_ = false; // the state font has no room for it

    std::vector<StationTile> shownTiles_;
    std::vector<std::string> shownTotals_;
    std::wstring notice_;
    std::wstring f8Text_;
    bool globalF8_ = false;
    KeyRepeatFilter f8Repeats_;
    bool unlockedByPassword_ = false;
    int modal_ = 0;       // boxes and dialogs open over the window
    bool closing_ = false;
    int exitCode_ = 0;
};

} // namespace mub
