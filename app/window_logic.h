// What the main window does, without a toolkit: the start-up steps, the
// Upgrade/Stop toggle, the commands of the buttons and the menu, and the
// close path that saves the settings and ends the process. It owns the
// shared state of the program: the link to the machine with its transport,
// the one upgrade file and the settings path.
//
// A view (the Qt window, the Win32 window, a test window) builds its
// controls from the control and menu tables, implements Ui and Desktop,
// and forwards its events here: command(id) for buttons and menu items,
// onUpgradeHotKey for F8, onActivationRequested for a later copy,
// saveSettingsAndExit for the close request, showSystemInfo for About's
// button. Everything runs on the window's thread; long operations run
// inside the handler that started them and keep the window alive through
// Ui::pumpDelay, so Stop, F8 and the close request are handled nested in them.
#pragma once

#include "app/desktop.h"
#include "app/session_view.h"
#include "platform/ui.h"
#include "upgrade/upgrade_session.h"
#include "upgrade_file/upgrade_file.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace mub {

class BridgeBinding;
class RecordSender;
struct RecordsSettings;
class UpgradeFileOpener;

// A view's Ui::tone: the tone plays on its own thread while the window waits
// its length in a pause that handles events, so a close, a Stop or F8 during
// a tone is handled at once instead of after it.
void toneWhileHandlingEvents(Ui& ui, int hertz, int milliseconds);

class WindowLogic {
public:
    WindowLogic(Ui& ui, Desktop& desktop);
    ~WindowLogic();
    WindowLogic(const WindowLogic&) = delete;
    WindowLogic& operator=(const WindowLogic&) = delete;

    // Start-up before the window is shown; `programDir` holds cfg.ini and
    // the bridge library. False when the program ends here (another copy
    // runs, or the bridge library is missing in USB mode); the exit code is
    // then exitCode().
    bool start(const std::string& programDir);
    int exitCode() const { return exitCode_; }
    bool started() const { return started_; }

    // A button (control id) or a menu item (menu id) of the tables.
    void command(int id);

    void toggleUpgrade();
    void onUpgradeHotKey();
    void detectModelCommand();
    void openUpgradeFileCommand();
    void clearCount();
    void exitCommand();
    void showHelp();
    void openDownloadPage();
    void showAbout();
    void showSystemInfo();
    void onActivationRequested();
    // Every way of closing ends here, also in the middle of a run.
    void saveSettingsAndExit();
    // The user's session ends (log-off, shut-down), which sends no close
    // request. sessionEnding (the system asks whether it may end) saves the
    // changed settings, also in the middle of a run, which goes on;
    // sessionEnded (the end has come) saves what changed since, releases
    // the link and ends the process. Each change is written once.
    void sessionEnding();
    void sessionEnded();

    // State, for views and tests.
    MachineLink* link() const { return session_ ? &session_->link() : nullptr; }
    // The serial channel's transport, or the bridge library's in USB mode.
    Transport* transport() const { return session_ ? &session_->transport() : nullptr; }
    UpgradeFile& upgradeFile() { return file_; }
    const std::string& settingsPath() const { return settingsPath_; }
    // upgrades.csv beside cfg.ini: one line per upgrade and model check.
    const std::string& upgradeLogPath() const;
    // The records sender ([Records] of cfg.ini); null without a collector.
    RecordSender* recordSender() const { return sender_.get(); }

private:
    // What an upgrade or a check is given, read from the window now.
    SessionOptions sessionOptions();
    void saveCurrentSettings();
    // A log that cannot be written is told once, after the operation.
    void tellLogFailure();
    // The log's lines go to the collector of [Records], if one is set; the
    // status bar tells how many wait.
    void startRecordSender(const RecordsSettings& settings);
    void showWaitingRecords(std::size_t waiting);

    Ui& ui_;
    Desktop& desktop_;
    WindowSessionView view_{ui_};
    UpgradeFile file_;
    std::string settingsPath_;
    std::unique_ptr<BridgeBinding> bridge_;
    std::unique_ptr<UpgradeLog> log_;
    std::unique_ptr<UpgradeSession> session_;
    std::unique_ptr<UpgradeFileOpener> opener_;
    std::unique_ptr<RecordSender> sender_;
    int exitCode_ = 0;
    bool started_ = false;
};

} // namespace mub
