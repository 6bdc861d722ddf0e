// The Qt view of the station window: the file line and the commands on top,
// a tile per port, the totals, and a status bar (the latest notice, how F8
// reaches the station, production mode). A timer drives the logic's tick
// and redraws from it.
#pragma once

#include "station/station_window.h"

#include <QMainWindow>

#include <memory>
#include <vector>

class QGridLayout;
class QLabel;
class QPushButton;
class QTimer;

namespace mub {

class GlobalHotKey;
class StationTileWidget;

class StationMainWindow : public QMainWindow {
public:
    explicit StationMainWindow(StationWindow& station);
    ~StationMainWindow() override;
    int exitCode() const { return exitCode_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void refresh();
    void layTiles(std::size_t count);
    void openFile();
    void lockOrUnlock();
    void showError(const std::string& gbkText);

    StationWindow& station_;
    QLabel* fileLine_ = nullptr;
    QPushButton* toggle_ = nullptr;
    QPushButton* lock_ = nullptr;
    QGridLayout* grid_ = nullptr;
    std::vector<StationTileWidget*> tiles_;
    std::vector<QLabel*> totals_;
    QLabel* notice_ = nullptr;
    QLabel* mode_ = nullptr;
    QTimer* timer_ = nullptr;
    GlobalHotKey* hotKey_ = nullptr;
    // MUB_UI_LATENCY=FILE: how late a 10 ms timer fires, the time an input
    // event can wait for the event loop (for the benchmark).
    std::string latencyFile_;
    std::vector<int> lateMs_;
    bool unlockedByPassword_ = false;
    bool closing_ = false;
    int exitCode_ = 0;
};

} // namespace mub
