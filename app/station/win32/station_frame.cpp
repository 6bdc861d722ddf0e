#include "app/station/win32/station_frame.h"

#include "app/station/win32/password_dialog.h"
#include "app/win32/dpi_scale.h"
#include "app/win32/open_file_dialog.h"
#include "app/win32/resource_ids.h"
#include "app/win32/text_edge.h"
#include "platform/gbk_text.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <tuple>

namespace mub {

namespace {

constexpr const wchar_t* frameClass = L"MubStationFrame";
constexpr const wchar_t* tilesClass = L"MubStationTiles";
constexpr const wchar_t* title = L"生产工位 - 升级工具";
// How long closing waits for the ports' loops to end (each logs its machine).
constexpr ULONGLONG closeWaitMs = 10000;

COLORREF tileBackground(TileColour colour) {
    switch (colour) {
    case TileColour::Grey: return RGB(0xD9, 0xD9, 0xD9);
    case TileColour::Blue: return RGB(0x9C, 0xC3, 0xE6);
    case TileColour::Amber: return RGB(0xFF, 0xD9, 0x66);
    case TileColour::Green: return RGB(0xA9, 0xD1, 0x8E);
    case TileColour::Red: return RGB(0xFF, 0x7C, 0x80);
    }
    return RGB(0xD9, 0xD9, 0xD9);
}

bool sameTile(const StationTile& a, const StationTile& b) {
    return a.port == b.port && a.machine == b.machine && a.state == b.state && a.detail == b.detail &&
           a.colour == b.colour && a.percent == b.percent && a.running == b.running;
}

bool sameTiles(const std::vector<StationTile>& a, const std::vector<StationTile>& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), sameTile);
}

void fill(HDC dc, const RECT& area, COLORREF colour) {
    HBRUSH brush = ::CreateSolidBrush(colour);
    ::FillRect(dc, &area, brush);
    ::DeleteObject(brush);
}

int extent(HDC dc, HFONT font, const std::wstring& text) {
    ::SelectObject(dc, font);
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

void drawText(HDC dc, HFONT font, const std::wstring& text, RECT area, UINT format) {
    ::SelectObject(dc, font);
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area, format | DT_NOPREFIX);
}

} // namespace

StationFrame::StationFrame(StationWindow& station) : station_(station) {}

StationFrame::~StationFrame() {
    if (window_) ::DestroyWindow(window_);
    deleteFonts(fonts_);
    if (uiFont_) ::DeleteObject(uiFont_);
}

bool StationFrame::create(int show, std::string& error) {
    INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&classes);
    const HINSTANCE program = ::GetModuleHandleW(nullptr);

    // The caption and the task bar show the program icon, each in its own
    // size from the icon resource.
    WNDCLASSEXW frame{};
    frame.cbSize = sizeof(frame);
    frame.lpfnWndProc = frameProc;
    frame.hInstance = program;
    frame.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    frame.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    frame.lpszClassName = frameClass;
    for (auto [icon, width, height] : {std::tuple{&frame.hIcon, SM_CXICON, SM_CYICON},
                                       std::tuple{&frame.hIconSm, SM_CXSMICON, SM_CYSMICON}})
        *icon = static_cast<HICON>(::LoadImageW(program, MAKEINTRESOURCEW(MUB_PROGRAM_ICON), IMAGE_ICON,
                                                ::GetSystemMetrics(width), ::GetSystemMetrics(height), LR_SHARED));
    ::RegisterClassExW(&frame);
    WNDCLASSEXW tiles{};
    tiles.cbSize = sizeof(tiles);
    tiles.style = CS_HREDRAW | CS_VREDRAW;
    tiles.lpfnWndProc = tilesProc;
    tiles.hInstance = program;
    tiles.lpszClassName = tilesClass;
    ::RegisterClassExW(&tiles);

    // The system's message font, as this DPI-aware program gets it: in
    // pixels of the system DPI already. Never smaller than 12 pixels at
    // 96 DPI, the smallest Chinese text that stays clear.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0))
        messageFont_ = metrics.lfMessageFont;
    else
        ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof(messageFont_), &messageFont_);
    bodyPixels_ = std::max(static_cast<int>(std::abs(messageFont_.lfHeight)), scaledPixels(12));
    uiFont_ = makeFont(bodyPixels_, false);

    window_ = ::CreateWindowExW(0, frameClass, title, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                                CW_USEDEFAULT, scaledPixels(1024), scaledPixels(720), nullptr, nullptr, program, this);
    if (!window_) {
        error = systemErrorText(::GetLastError());
        return false;
    }
    makeControls();

    // F8 for the whole desktop where no other program holds it, else while
    // this window has the focus (run() takes it from the message queue).
    // MOD_NOREPEAT: F8 held down sends one message, not one per repeat.
    globalF8_ = ::RegisterHotKey(window_, hotKeyId, MOD_NOREPEAT, VK_F8) != FALSE;
    f8Text_ = globalF8_ ? L"F8：全局热键" : L"F8：仅在本窗口有焦点时";
    ::SetTimer(window_, tickTimer, 200, nullptr);

    layOut();
    refresh();
    // A station fills its screen unless started minimised.
    const bool minimised = show == SW_SHOWMINIMIZED || show == SW_MINIMIZE || show == SW_SHOWMINNOACTIVE;
    ::ShowWindow(window_, minimised ? show : SW_SHOWMAXIMIZED);
    ::UpdateWindow(window_);
    return true;
}

void StationFrame::makeControls() {
    const HINSTANCE program = ::GetModuleHandleW(nullptr);
    const auto child = [&](const wchar_t* cls, const wchar_t* text, DWORD style, int id) {
        HWND made = ::CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, window_,
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), program, nullptr);
        ::SendMessageW(made, WM_SETFONT, reinterpret_cast<WPARAM>(uiFont_), FALSE);
        return made;
    };
    child(L"STATIC", L"", SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL, IdFileLine);
    child(L"BUTTON", L"打开文件", BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, IdOpen);
    child(L"BUTTON", L"", BS_PUSHBUTTON | WS_TABSTOP, IdToggle);
    child(L"BUTTON", L"计数清零", BS_PUSHBUTTON | WS_TABSTOP, IdReset);
    child(L"BUTTON", L"锁定", BS_PUSHBUTTON | WS_TABSTOP, IdLock);
    tiles_ = ::CreateWindowExW(0, tilesClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, window_, nullptr, program, this);
    child(STATUSCLASSNAMEW, L"", SBARS_SIZEGRIP, IdStatus);
}

HFONT StationFrame::makeFont(int pixels, bool bold) const {
    LOGFONTW font = messageFont_;
    font.lfHeight = -pixels;
    font.lfWidth = 0;
    font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    font.lfQuality = CLEARTYPE_QUALITY;
    return ::CreateFontIndirectW(&font);
}

void StationFrame::deleteFonts(Fonts& fonts) {
    for (HFONT* font : {&fonts.body, &fonts.bold, &fonts.small, &fonts.state, &fonts.totals}) {
        if (*font) ::DeleteObject(*font);
        *font = nullptr;
    }
}

int StationFrame::textWidth(HFONT font, const std::wstring& text) const {
    HDC dc = ::GetDC(window_);
    HGDIOBJ old = ::SelectObject(dc, font);
    const int width = extent(dc, font, text);
    ::SelectObject(dc, old);
    ::ReleaseDC(window_, dc);
    return width;
}

void StationFrame::setText(int id, const std::wstring& text) {
    wchar_t shown[1024] = {};
    ::GetWindowTextW(item(id), shown, 1024);
    if (text != shown) ::SetWindowTextW(item(id), text.c_str());
}

// The buttons on the right of the top row, each as wide as its longest
// caption; the file line on the left takes the rest, in up to two lines.
void StationFrame::layOut() {
    RECT client{};
    ::GetClientRect(window_, &client);
    HWND status = item(IdStatus);
    ::SendMessageW(status, WM_SIZE, 0, 0);
    RECT statusBox{};
    ::GetWindowRect(status, &statusBox);
    const int statusHeight = statusBox.bottom - statusBox.top;
    setStatusParts();

    const int pad = bodyPixels_ / 2;
    const int buttonHeight = std::max(scaledPixels(28), bodyPixels_ * 5 / 2);
    const int buttonPad = bodyPixels_ * 2;
    const struct {
        int id;
        std::initializer_list<const wchar_t*> captions;
    } buttons[] = {{IdOpen, {L"打开文件"}},
                   {IdToggle, {L"全部开始(F8)", L"全部停止(F8)"}},
                   {IdReset, {L"计数清零"}},
                   {IdLock, {L"锁定", L"解锁", L"重新锁定"}}};
    int widths[std::size(buttons)] = {};
    int all = 0;
    for (std::size_t i = 0; i < std::size(buttons); ++i) {
        for (const wchar_t* caption : buttons[i].captions)
            widths[i] = std::max(widths[i], textWidth(uiFont_, caption) + buttonPad);
        all += widths[i] + pad;
    }
    int x = std::max(static_cast<int>(client.right) - all, pad + scaledPixels(120));
    const int fileWidth = x - 2 * pad;
    for (std::size_t i = 0; i < std::size(buttons); ++i) {
        ::MoveWindow(item(buttons[i].id), x, pad, widths[i], buttonHeight, TRUE);
        x += widths[i] + pad;
    }
    ::MoveWindow(item(IdFileLine), pad, pad, fileWidth, buttonHeight, TRUE);
    const int tilesTop = 2 * pad + buttonHeight;
    ::MoveWindow(tiles_, 0, tilesTop, client.right, std::max(0, static_cast<int>(client.bottom) - statusHeight - tilesTop),
                 TRUE);
    layTiles();
}

// The totals take two lines of their font at the bottom of the tile area;
// the grid has the rest.
void StationFrame::layTiles() {
    RECT area{};
    ::GetClientRect(tiles_, &area);
    const std::size_t count = station_.tiles().size();
    const int gap = std::max(4, bodyPixels_ / 3);
    const int totalsPixels = bodyPixels_ * 7 / 4;
    const int totalsHeight = 2 * (totalsPixels * 13 / 10) + gap;
    totalsTop_ = std::max(0, static_cast<int>(area.bottom) - totalsHeight);
    grid_ = tileGrid(count, 0, 0, area.right, totalsTop_, gap);
    tileFonts_ = tileFonts(bodyPixels_, grid_);
    deleteFonts(fonts_);
    fonts_.body = makeFont(tileFonts_.body, false);
    fonts_.bold = makeFont(tileFonts_.body, true);
    fonts_.small = makeFont(std::max(scaledPixels(9), tileFonts_.body * 3 / 4), false);
    fonts_.state = makeFont(tileFonts_.state, true);
    // The rule's estimate of the widest state may be short for the font:
    // it is measured, and the font made smaller until it fits, but not
    // below twice the body; then the percentage goes beside the bar.
    const int room = grid_.width - 2 * tileRows(tileFonts_, tileBox(grid_, 0)).margin - 2 * std::max(2, tileFonts_.body / 6);
    const int widest = textWidth(fonts_.state, L"升级中 100%");
    if (grid_.count > 0 && widest > room) {
        ::DeleteObject(fonts_.state);
        tileFonts_.state = std::max(2 * tileFonts_.body, tileFonts_.state * room / widest);
        fonts_.state = makeFont(tileFonts_.state, true);
    }
    percentBesideBar_ = textWidth(fonts_.state, L"升级中 100%") > room;
    fonts_.totals = makeFont(totalsPixels, true);
    ::InvalidateRect(tiles_, nullptr, FALSE);
}

// Part 0, the latest notice, takes what the F8 text and the mode leave.
void StationFrame::setStatusParts() {
    HWND status = item(IdStatus);
    RECT box{};
    ::GetClientRect(status, &box);
    const int pad = bodyPixels_ * 2;
    const int mode = textWidth(uiFont_, L"生产模式") + pad;
    const int f8 = textWidth(uiFont_, f8Text_) + pad;
    int parts[3] = {std::max(0, static_cast<int>(box.right) - f8 - mode - scaledPixels(16)), 0, -1};
    parts[1] = parts[0] + f8;
    ::SendMessageW(status, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(parts));
}

void StationFrame::refresh() {
    if (!window_) return;
    std::vector<StationTile> tiles = station_.tiles();
    if (tiles.size() != shownTiles_.size()) {
        shownTiles_.clear();
        layTiles();
    }
    std::vector<std::string> totals = station_.totalsLines();
    if (!sameTiles(tiles, shownTiles_) || totals != shownTotals_) {
        shownTiles_ = std::move(tiles);
        shownTotals_ = std::move(totals);
        ::InvalidateRect(tiles_, nullptr, FALSE);
    }
    setText(IdFileLine, wideFromGbk(station_.fileLine()));
    setText(IdToggle, wideFromGbk(station_.toggleCaption()));
    setText(IdLock, station_.locked() ? L"解锁" : unlockedByPassword_ ? L"重新锁定" : L"锁定");

    const std::vector<std::string> notices = station_.takeNotices();
    if (!notices.empty()) notice_ = wideFromGbk(notices.back());
    HWND status = item(IdStatus);
    const std::wstring parts[3] = {notice_, f8Text_, station_.locked() ? L"生产模式" : L""};
    for (int i = 0; i < 3; ++i) {
        wchar_t shown[512] = {};
        const auto length = LOWORD(::SendMessageW(status, SB_GETTEXTLENGTHW, static_cast<WPARAM>(i), 0));
        if (length < 512) ::SendMessageW(status, SB_GETTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(shown));
        if (parts[i] != shown)
            ::SendMessageW(status, SB_SETTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(parts[i].c_str()));
    }
}

// Drawn into a bitmap first and copied at once: no flicker at five
// redraws a second.
void StationFrame::paintTiles(HDC target, const RECT& client) {
    HDC dc = ::CreateCompatibleDC(target);
    HBITMAP picture = ::CreateCompatibleBitmap(target, std::max(1L, client.right), std::max(1L, client.bottom));
    HGDIOBJ oldPicture = ::SelectObject(dc, picture);
    HGDIOBJ oldFont = ::SelectObject(dc, fonts_.body);
    fill(dc, client, ::GetSysColor(COLOR_BTNFACE));
    ::SetBkMode(dc, TRANSPARENT);

    for (std::size_t i = 0; i < shownTiles_.size() && i < grid_.count; ++i) paintTile(dc, shownTiles_[i], tileBox(grid_, i));

    ::SetTextColor(dc, ::GetSysColor(COLOR_BTNTEXT));
    const int line = (client.bottom - totalsTop_ - grid_.gap) / 2;
    for (std::size_t i = 0; i < shownTotals_.size() && i < 2; ++i) {
        const int top = totalsTop_ + static_cast<int>(i) * line;
        drawText(dc, fonts_.totals, wideFromGbk(shownTotals_[i]),
                 {grid_.gap * 2, top, client.right - grid_.gap * 2, top + line},
                 DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
    }

    ::BitBlt(target, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    ::SelectObject(dc, oldFont);
    ::SelectObject(dc, oldPicture);
    ::DeleteObject(picture);
    ::DeleteDC(dc);
}

// Top to bottom: the port's name (bold) with what a click does on the
// right, the state (large) with the percentage (beside the bar in narrow
// tiles), the progress bar, the machine and the detail in up to two lines.
// A narrow tile has the click's words smaller (or none) beside the name,
// and a low one leaves out the machine before the detail.
void StationFrame::paintTile(HDC dc, const StationTile& tile, const TileBox& box) {
    const RECT outer{box.left, box.top, box.left + box.width, box.top + box.height};
    fill(dc, outer, tileBackground(tile.colour));
    // A running port's tile has a dark frame.
    const int frame = tile.running ? std::max(2, tileFonts_.body / 6) : 1;
    HBRUSH edge = ::CreateSolidBrush(tile.running ? RGB(0x40, 0x40, 0x40) : RGB(0x90, 0x90, 0x90));
    for (int i = 0; i < frame; ++i) {
        const RECT ring{outer.left + i, outer.top + i, outer.right - i, outer.bottom - i};
        ::FrameRect(dc, &ring, edge);
    }
    ::DeleteObject(edge);

    const TileRows rows = tileRows(tileFonts_, box);
    const int left = box.left + rows.margin + frame, right = box.left + box.width - rows.margin - frame;
    const auto line = [&](int top, int count = 1) { return RECT{left, top, right, top + count * rows.bodyLine}; };

    const std::wstring name = wideFromGbk(tile.port);
    const std::wstring click = tile.running ? L"点击停止" : L"点击开始";
    ::SetTextColor(dc, RGB(0, 0, 0));
    drawText(dc, fonts_.bold, name, line(rows.nameTop), DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
    const int nameWidth = extent(dc, fonts_.bold, name) + rows.margin;
    for (HFONT font : {fonts_.body, fonts_.small}) {
        if (nameWidth + extent(dc, font, click) > right - left) continue;
        ::SetTextColor(dc, RGB(0x40, 0x40, 0x40));
        drawText(dc, font, click, line(rows.nameTop), DT_RIGHT | DT_VCENTER | DT_SINGLELINE);
        ::SetTextColor(dc, RGB(0, 0, 0));
        break;
    }

    std::wstring state = wideFromGbk(tile.state);
    const std::wstring percent = std::to_wstring(tile.percent) + L"%";
    if (tile.percent >= 0 && !percentBesideBar_) state += L" " + percent;
    if (rows.stateTop + rows.stateLine <= rows.bottom)
        drawText(dc, fonts_.state, state, {left, rows.stateTop, right, rows.stateTop + rows.stateLine},
                 DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);

    if (tile.percent >= 0 && rows.barTop + rows.barHeight <= rows.bottom) {
        int barRight = right;
        if (percentBesideBar_) {
            barRight -= extent(dc, fonts_.bold, L"100%") + rows.margin;
            drawText(dc, fonts_.bold, percent, {barRight, rows.stateTop + rows.stateLine, right, rows.linesTop},
                     DT_RIGHT | DT_VCENTER | DT_SINGLELINE);
        }
        const RECT bar{left, rows.barTop, barRight, rows.barTop + rows.barHeight};
        fill(dc, bar, RGB(0xF2, 0xF2, 0xF2));
        const RECT done{left, rows.barTop, left + (barRight - left) * std::clamp(tile.percent, 0, 100) / 100,
                        rows.barTop + rows.barHeight};
        fill(dc, done, RGB(0x1F, 0x4E, 0x79));
    }

    // The machine takes a line when the detail keeps one.
    int top = rows.linesTop, lines = rows.lines;
    if (!tile.machine.empty() && lines > (tile.detail.empty() ? 0 : 1)) {
        drawText(dc, fonts_.body, wideFromGbk(tile.machine), line(top),
                 DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
        top += rows.bodyLine;
        --lines;
    }
    if (!tile.detail.empty() && lines > 0)
        drawText(dc, fonts_.body, wideFromGbk(tile.detail), line(top, std::min(lines, 2)),
                 DT_LEFT | DT_TOP | DT_WORDBREAK | DT_EDITCONTROL | DT_END_ELLIPSIS);
}

void StationFrame::errorBox(const std::string& gbkText) {
    ++modal_;
    ::MessageBoxW(window_, wideFromGbk(gbkText).c_str(), title, MB_OK | MB_ICONWARNING);
    --modal_;
}

void StationFrame::command(int id) {
    if (closing_) return;
    switch (id) {
    case IdOpen: openFile(); break;
    case IdToggle: station_.toggleAll(); break;
    case IdReset: station_.resetTotals(); break;
    case IdLock: lockOrUnlock(); break;
    default: return;
    }
    refresh();
}

// The dialog starts in the folder of the file open now.
void StationFrame::openFile() {
    std::string refusal;
    if (!station_.mayOpen(refusal)) {
        errorBox(refusal);
        return;
    }
    std::wstring folder = wideFromUtf8(station_.options().file);
    folder.resize(std::min(folder.size(), folder.find_last_of(L"\\/")));
    ++modal_;
    const std::wstring chosen = chooseUpgradeFile(window_, folder, L"打开升级文件");
    --modal_;
    if (chosen.empty()) return;
    std::string error;
    if (!station_.openFile(utf8FromWide(chosen), error)) errorBox(error);
}

void StationFrame::lockOrUnlock() {
    std::string error;
    if (station_.locked()) {
        std::string password;
        ++modal_;
        const bool given = askPassword(window_, password);
        --modal_;
        if (!given) return;
        if (!station_.unlockStation(password)) {
            errorBox(gbk("密码错误。"));
            return;
        }
        unlockedByPassword_ = true;
    } else if (unlockedByPassword_) {
        if (station_.lockAgain(error)) unlockedByPassword_ = false;
        else errorBox(error);
    } else {
        std::string first, second;
        ++modal_;
        const bool given = askNewPassword(window_, first, second);
        --modal_;
        if (!given) return;
        if (first != second) errorBox(gbk("两次输入的密码不同。"));
        else if (!station_.lockStation(first, error)) errorBox(error);
    }
}

void StationFrame::hotKeyPressed() {
    if (closing_) return;
    station_.toggleAll();
    refresh();
}

void StationFrame::stopAndWait() {
    closing_ = true;
    station_.stopAll();
    const ULONGLONG deadline = ::GetTickCount64() + closeWaitMs;
    while (!station_.idle() && ::GetTickCount64() < deadline) {
        ::MsgWaitForMultipleObjectsEx(0, nullptr, 50, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                ::PostQuitMessage(static_cast<int>(message.wParam));
                return;
            }
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        refresh();
    }
    refresh();
}

void StationFrame::closeWindow() {
    if (closing_ || !window_) return;
    stopAndWait();
    exitCode_ = station_.exitCode();
    ::DestroyWindow(window_);
}

int StationFrame::run() {
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        // Without the global hot key F8 is this window's key; a key held
        // down (the repeat bit) starts or stops nothing more.
        if (!globalF8_ && message.message == WM_KEYDOWN && message.wParam == VK_F8 && window_ &&
            (message.hwnd == window_ || ::IsChild(window_, message.hwnd))) {
            if (!(message.lParam & (1L << 30))) hotKeyPressed();
            continue;
        }
        if (window_ && ::IsDialogMessageW(window_, &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return message.message == WM_QUIT ? static_cast<int>(message.wParam) : exitCode_;
}

LRESULT CALLBACK StationFrame::frameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE)
        ::SetWindowLongPtrW(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    auto* self = reinterpret_cast<StationFrame*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self || !self->window_) return ::DefWindowProcW(window, message, wParam, lParam);
    return self->handle(message, wParam, lParam);
}

LRESULT StationFrame::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) command(LOWORD(wParam));
        return 0;
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED) layOut();
        return 0;
    case WM_GETMINMAXINFO: {
        auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
        limits->ptMinTrackSize = {scaledPixels(640), scaledPixels(480)};
        return 0;
    }
    case WM_TIMER:
        if (wParam == hotKeyReleaseTimer) {
            // F8's release, looked for after each press: a press while it is
            // still down is the key's repeat (Wine sends them despite
            // MOD_NOREPEAT).
            if (!(::GetAsyncKeyState(VK_F8) & 0x8000)) {
                f8Repeats_.release(::GetTickCount());
                ::KillTimer(window_, hotKeyReleaseTimer);
            }
        } else if (wParam == tickTimer && !closing_) {
            // The end of --count waits for the boxes over the window to close.
            if (!station_.tick() && modal_ == 0) closeWindow();
            else refresh();
        }
        return 0;
    case WM_HOTKEY:
        if (wParam == hotKeyId) {
            const bool newPress = f8Repeats_.press(static_cast<std::uint32_t>(::GetMessageTime()));
            ::SetTimer(window_, hotKeyReleaseTimer, 30, nullptr);
            if (newPress) hotKeyPressed();
        }
        return 0;
    case WM_CLOSE:
        closeWindow();
        return 0;
    // Log-off and shut-down: the process may end as soon as the end is
    // answered, so the ports are stopped and their machines logged first.
    case WM_QUERYENDSESSION: return TRUE;
    case WM_ENDSESSION:
        if (wParam && !closing_) {
            stopAndWait();
            exitCode_ = station_.exitCode();
        }
        return 0;
    case WM_DESTROY:
        ::KillTimer(window_, tickTimer);
        ::KillTimer(window_, hotKeyReleaseTimer);
        if (globalF8_) ::UnregisterHotKey(window_, hotKeyId);
        window_ = nullptr;
        ::PostQuitMessage(exitCode_);
        return 0;
    default: return ::DefWindowProcW(window_, message, wParam, lParam);
    }
}

LRESULT CALLBACK StationFrame::tilesProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE)
        ::SetWindowLongPtrW(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    auto* self = reinterpret_cast<StationFrame*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self || !self->tiles_) return ::DefWindowProcW(window, message, wParam, lParam);
    return self->handleTiles(message, wParam, lParam);
}

// A click on a tile starts or stops its port; the pointer is a hand over one.
LRESULT StationFrame::handleTiles(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = ::BeginPaint(tiles_, &paint);
        RECT client{};
        ::GetClientRect(tiles_, &client);
        paintTiles(dc, client);
        ::EndPaint(tiles_, &paint);
        return 0;
    }
    case WM_LBUTTONUP: {
        const int index = tileAt(grid_, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        if (index >= 0 && !closing_) {
            station_.togglePort(static_cast<std::size_t>(index));
            refresh();
        }
        return 0;
    }
    case WM_SETCURSOR: {
        POINT point{};
        ::GetCursorPos(&point);
        ::ScreenToClient(tiles_, &point);
        ::SetCursor(::LoadCursorW(nullptr, tileAt(grid_, point.x, point.y) >= 0 ? IDC_HAND : IDC_ARROW));
        return TRUE;
    }
    default: return ::DefWindowProcW(tiles_, message, wParam, lParam);
    }
}

} // namespace mub
