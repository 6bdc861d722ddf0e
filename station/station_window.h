// The station window without a toolkit: what its views (Qt on Linux, Win32
// on Windows) show and what their controls do. A view calls it from its
// one thread: the commands when the operator uses a control, tick() on a
// timer (a few times a second), and it draws what tiles(), totalsLines()
// and the other texts give. Texts are GBK.
//
// Its settings are station.ini beside cfg.ini. The command line
// (`mub-station [--ports LIST|usb] [--baud N] [--log FILE] [--verify]
// [--verify-wait S] [--count N] [FILE.mub]`) overrides them for this run;
// in production mode what is locked is not overridden (said in notices()).
#pragma once

#include "records/record_sender.h"
#include "station/production_lock.h"
#include "station/station_model.h"
#include "station/station_options.h"
#include "station/station_run.h"
#include "upgrade/upgrade_log.h"
#include "upgrade_file/open_upgrade_file.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace mub {

enum class TileColour { Grey, Blue, Amber, Green, Red };

// One port's tile.
struct StationTile {
    std::string port;    // its name
    std::string machine; // the last machine's identity, "型号 硬件 软件"; empty: none yet
    std::string state;   // the large text: 等待机器, 升级中, 校验中, 合格, 失败, 已停止
    std::string detail;  // a line under it: the reason of a failure, 请取下机器, ...
    TileColour colour = TileColour::Grey;
    int percent = -1;    // the transfer's progress; -1: no bar
    bool running = false; // its loop runs: its button stops it (停止), else starts it (开始)
};

// What the station window needs from its system.
struct StationWindowHost {
    std::function<std::vector<std::string>()> usbPorts; // usableUsbSerialPorts
    PortTable windowTable;                              // COMn as the upgrader window maps them
    std::string settingsPath;                           // station.ini
    std::string defaultLogPath;                         // upgrades.csv beside cfg.ini
    CollectorTarget records;                            // [Records] of cfg.ini
};

class StationWindow {
public:
    explicit StationWindow(StationWindowHost host);
    ~StationWindow();

    // Reads station.ini and the command line (UTF-8 arguments). False with
    // `error` (GBK, for a box) on a usage error; the program then ends.
    bool begin(const std::vector<std::string>& args, std::string& error);
    // The first start after begin(): every port starts when a file is loaded.
    void startIfReady();

    // The operator's commands.
    // A file chosen in the open dialog (UTF-8 path). False with `error`
    // (GBK) when it cannot be used; the ports then stop. Refused while a
    // port runs.
    bool openFile(const std::string& path, std::string& error);
    // Whether a file may be opened now (before the dialog is shown); false
    // with `why` (GBK) while a port runs.
    bool mayOpen(std::string& why) const;
    void startAll();
    void stopAll();
    // F8 and the Start all/Stop all button: one press, one change.
    void toggleAll();
    void togglePort(std::size_t port);
    void resetTotals();

    // Looks for USB ports plugged in (when the ports are `usb`) and ends
    // the program once --count machines are done: true while it goes on.
    bool tick();
    // Nothing runs any more: the program may close (stopAll() first).
    bool idle() const;
    // How the program ends: 0, or 10 when a machine failed (as mubtool station).
    int exitCode() const;

    // For drawing.
    std::vector<StationTile> tiles() const;
    bool anyRunning() const;
    // The header line: the file and what it holds, or that none is open.
    std::string fileLine() const;
    // Totals since the start and since the last reset, one line each:
    // 合格, 不合格, 合格率, 台/小时; the first also the log's lines that
    // wait to be sent to the collector, when some do.
    std::vector<std::string> totalsLines() const;
    // Lines for the status bar or a message area since the last call: the
    // log that cannot be written, options a lock ignored, ports that joined.
    std::vector<std::string> takeNotices();
    // The caption of the Start all/Stop all button.
    std::string toggleCaption() const;

    // Production mode. Locking saves what the station runs with to
    // station.ini ([Station], the collector of [Records] with it) and
    // approves the open file (with those approved before); false with
    // `error` (GBK). A locked station sends its records where they went
    // when it was locked, whatever cfg.ini says since.
    bool locked() const { return lock_.locked(); }
    bool lockStation(const std::string& password, std::string& error);
    // False for a wrong password; unlocked until lockAgain().
    bool unlockStation(const std::string& password);
    bool lockAgain(std::string& error);
    bool hasPassword() const { return lock_.hasPassword(); }
    const StationOptions& options() const { return options_; }
    const CollectorTarget& records() const { return records_; }

private:
    void makeRun();
    void startRecordSender();
    bool saveSettings();
    void notice(const std::string& gbkText);

    StationWindowHost host_;
    StationOptions options_;
    ProductionLock lock_;
    UpgradeFileRead file_;
    std::unique_ptr<UpgradeLog> log_;
    std::unique_ptr<StationModel> model_;
    std::unique_ptr<StationSlots> slots_;
    std::unique_ptr<StationRun> run_;
    std::vector<std::string> notices_;
    std::chrono::steady_clock::time_point nextUsbLook_;
    bool ended_ = false;
    CollectorTarget records_;
    std::unique_ptr<RecordSender> sender_; // none without a collector
};

// The tile of a port as the model has it (the texts of every view).
StationTile stationTile(const StationModel::Port& port, bool running);

// "合格 12  不合格 1  合格率 92.3%  240 台/小时" for `totals` up to `now`.
std::string totalsText(const StationModel::Totals& totals, std::chrono::steady_clock::time_point now);

} // namespace mub
