#include "app/window_logic.h"

#include "app/main_layout.h"
#include "app/settings/port_overrides.h"
#include "app/settings/settings_file.h"
#include "link/bridge_binding.h"
#include "link/bridge_transport.h"
#include "link/connect_machine.h"
#include "link/machine_link.h"
#include "link/serial_transport.h"
#include "platform/gbk_text.h"
#include "platform/tone_player.h"
#include "upgrade/detect_model.h"
#include "upgrade/program_title.h"
#include "upgrade/run_upgrade.h"
#include "upgrade/upgrade_log.h"
#include "upgrade_file/key_setup.h"
#include "upgrade_file/open_upgrade_file.h"

namespace mub {

namespace {

const std::string& idleCaption() {
    static const std::string text = gbk("升级(F8)");
    return text;
}

std::string trimTrailingBlanks(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
    return text;
}

} // namespace

void toneWhileHandlingEvents(Ui& ui, int hertz, int milliseconds) {
    if (milliseconds <= 0) return;
    startTone(hertz, milliseconds);
    ui.pumpDelay(milliseconds * 1000);
}

WindowLogic::WindowLogic(Ui& ui, Desktop& desktop) : ui_(ui), desktop_(desktop) {}

WindowLogic::~WindowLogic() = default;

// Start-up in the order the program has always used: single instance,
// caption, status bar and clock, progress display, baud rates, settings,
// button handlers, bridge-library check, open dialog, F8, bridge parameters.
bool WindowLogic::start(const std::string& programDir) {
    if (started_) return true;

    // 1-3: the title, then refuse a second copy.
    const std::string title = trimTrailingBlanks(programTitle());
    if (!desktop_.claimSingleInstance(title)) {
        exitCode_ = 0;
        return false;
    }

    // 4-5: caption; no file loaded.
    desktop_.setTitle(title);
    file_.loaded = false;

    // 6-7: status bar, clock, time-out tick. The tick runs at the shortest
    // interval such a timer had where the program comes from (10 ms) until
    // a run arms it; a zero interval would keep a core busy.
    ui_.setStatusText(0, "Marrowind");
    ui_.startClock();
    ui_.armTimeout(10);

    // 8-9: progress display, hidden.
    ui_.setPercentText("100%");
    ui_.showPercent(false);
    ui_.showProgress(false);

    // 10-11: settings, shown in the baud-rate list and the counter.
    LoadedSettings loaded = loadSettings(programDir);
    settingsPath_ = loaded.settingsPath;
    desktop_.selectBaudRate(loaded.baudIndex);
    ui_.setFieldText(Field::Count, loaded.countText);

    usbMode_ = loaded.usbMode;
    // The transport: the bridge library in USB mode, else the COM ports.
    BridgeTransport* bridgeTransport = nullptr;
    if (loaded.usbMode) {
        bridge_ = std::make_unique<BridgeBinding>();
        auto transport = std::make_unique<BridgeTransport>(bridge_.get());
        bridgeTransport = transport.get();
        transport_ = std::move(transport);
    } else {
        PortTable ports;
        loadPortOverrides(settingsPath_, ports);
        transport_ = std::make_unique<SerialTransport>(ui_, ports);
    }
    link_ = std::make_unique<MachineLink>(ui_, *transport_);
    link_->portName = loaded.portName;
    opener_ = std::make_unique<UpgradeFileOpener>(ui_, file_, link_->running, settingsPath_);
    // The upgrade log lives beside cfg.ini, wherever the settings went.
    const std::size_t slash = settingsPath_.find_last_of("/\\");
    log_ = std::make_unique<UpgradeLog>(upgradeLogPathIn(slash == std::string::npos ? "." : settingsPath_.substr(0, slash)));

    // 13-15: nothing to upgrade yet; the key and the company mark.
    ui_.setEnabled(Control::UpgradeButton, false);
    upgradeKey();
    companyMark();

    // 17: in USB mode the bridge library must lie beside the program and
    // be one the program can use; if not, the operator is told why and the
    // program ends (the missing file with the box it always had).
    if (loaded.usbMode && !bridge_->load(programDir + "/" + bridgeLibraryFileName())) {
        desktop_.messageBox(title, bridge_->operatorText(), BoxIcon::Error, false);
        exitCode_ = 0;
        return false;
    }

    // 18-20: open dialog, F8, bridge parameters.
    desktop_.setOpenDialogFolder(loaded.openDialogFolder);
    // Without F8 the program runs on; the operator learns it once, in the
    // pane, without a box to click away.
    if (!desktop_.registerUpgradeHotKey())
        ui_.setMessage(gbk("热键F8已被其他程序占用，本程序不能使用F8。请用“升级(F8)”按钮开始和停止升级。"));
    if (bridgeTransport) {
        BridgeParams& params = bridgeTransport->params();
        params.words[0] = 0x0E6A;
        params.words[1] = 0x0103;
        params.words[2] = 1000;
        params.words[3] = 1000;
    }

    started_ = true;
    return true;
}

void WindowLogic::command(int id) {
    switch (id) {
    case IdUpgradeButton: toggleUpgrade(); break;
    case IdDetectModelButton: detectModelCommand(); break;
    case IdOpenFileButton:
    case MenuOpen: openUpgradeFileCommand(); break;
    case IdClearCountButton: clearCount(); break;
    case MenuExit: exitCommand(); break;
    case MenuHelp: showHelp(); break;
    case MenuDownload: openDownloadPage(); break;
    case MenuAbout: showAbout(); break;
    default: break; // MenuLanguage has no command
    }
}

// The caption of the upgrade button is the state: "升级(F8)" is idle, any
// other text a run in progress. Everything runs on the window's thread (F8
// too), so the test and the change of the caption are one step.
void WindowLogic::toggleUpgrade() {
    if (!link_ || !file_.loaded) return;
    if (ui_.caption(Control::UpgradeButton) == idleCaption()) {
        // A model check holds the link (its button is the one that stops
        // it); an upgrade started under it would fight it for the replies.
        if (link_->running) return;
        // A stopped run is still unwinding from the waits this toggle runs
        // nested in (F8 held down repeats): a run started now would run
        // inside the old one. The press is ignored.
        if (runsOnStack_ > 0) return;
        link_->running = true;
        ui_.setCaption(Control::UpgradeButton, gbk("停止"));
        ui_.setEnabled(Control::DetectModelButton, false);
        stopPressed_ = false;
        ++runsOnStack_;
        const std::uint32_t began = ui_.tickCount();
        UpgradeReport report;
        const std::optional<MachineInfo> machine = connectMachine(*link_);
        // A completed run is logged before it shows its completion.
        bool logged = false;
        report.onCompleting = [&](const UpgradeReport& done) {
            logOperation(machine, endingOf(UpgradeOutcome::Completed), &done, began);
            logged = true;
        };
        const bool completed = machine && runUpgrade(*link_, file_, *machine, &report);
        if (!logged)
            logOperation(machine, upgradeEnding(machine.has_value(), completed, report.outcome, stopPressed_, false),
                         &report, began);
        --runsOnStack_;
    } else {
        ui_.setMessage(gbk("升级被停止！"));
        stopPressed_ = true;
    }
    // A stop runs this nested inside the run, and the run once more when it
    // returns; both passes leave the same state.
    finishUpgrade();
    tellLogFailure();
}

void WindowLogic::finishUpgrade() {
    ui_.showProgress(false);
    ui_.showPercent(false);
    ui_.startClock();
    ui_.setEnabled(Control::OpenFileButton, true);
    ui_.setEnabled(Control::BaudRateList, true);
    ui_.setEnabled(Control::DetectModelButton, true);
    ui_.setEnabled(Control::UpgradeButton, true);
    ui_.focus(Control::UpgradeButton);
    link_->running = false;
    ui_.setCaption(Control::UpgradeButton, idleCaption());
    link_->closeTransport();
}

// Without a loaded file F8 does nothing, not even raise the window.
void WindowLogic::onUpgradeHotKey() {
    if (!link_ || !file_.loaded) return;
    desktop_.raiseWindow();
    toggleUpgrade();
}

void WindowLogic::detectModelCommand() {
    if (!link_) return;
    // The button's second click (while the check waits) stops the check.
    const bool starting = ui_.caption(Control::DetectModelButton) == gbk("型号检测");
    stopPressed_ = !starting;
    const std::uint32_t began = ui_.tickCount();
    const std::optional<MachineInfo> machine = detectModel(*link_, file_);
    if (!starting) return;
    logOperation(machine, checkEnding(machine.has_value(), stopPressed_), nullptr, began);
    tellLogFailure();
}

const std::string& WindowLogic::upgradeLogPath() const {
    static const std::string none;
    return log_ ? log_->path() : none;
}

void WindowLogic::logOperation(const std::optional<MachineInfo>& machine, Ending ending, const UpgradeReport* report,
                               std::uint32_t began) {
    if (!log_) return;
    UpgradeLogEntry entry;
    entry.program = "upgrader";
    entry.port = usbMode_ ? "USB" : link_->portName;
    if (report) describeFile(entry, utf8(file_.path), file_);
    describeMachine(entry, machine);
    entry.outcome = ending.outcome;
    entry.exitCode = ending.exitCode;
    if (report) {
        entry.blocksDone = report->blocksDone;
        entry.timeouts = report->timeouts;
        entry.rejectedBlocks = report->rejectedBlocks;
    }
    entry.seconds = (ui_.tickCount() - began) / 1000.0;
    const UpgradeLog::Result result = log_->append(entry);
    if (result.firstFailure) logFailure_ = *result.firstFailure;
}

// Told once, and only once the operation is over: a box in the middle of a
// run would hold the run up.
void WindowLogic::tellLogFailure() {
    if (logFailure_.empty() || link_->running) return;
    const std::string reason = logFailure_;
    logFailure_.clear();
    desktop_.messageBox(ui_.title(),
                        gbk("无法写入升级记录文件：") + gbk(log_->path()) + "\r\n" + gbk(reason) +
                            gbk("\r\n\r\n升级照常进行；记录会在文件可以写入时补上。本次运行不再提示。"),
                        BoxIcon::Warning, false);
}

void WindowLogic::openUpgradeFileCommand() {
    if (opener_) opener_->openUpgradeFile();
}

void WindowLogic::clearCount() { ui_.setFieldText(Field::Count, "0"); }

void WindowLogic::exitCommand() { saveSettingsAndExit(); }

void WindowLogic::showHelp() {
    desktop_.messageBox(gbk("Tessaline帮助"),
                        gbk("第一步：选择波特率。\r\n\r\n第二步：打开升级文件。\r\n\r\n第三步：用USB连接线将机器和电脑"
                            "连接，打开机器电源。\r\n\r\n第四步：机器进入待机状态后，点击升级按钮。"),
                        BoxIcon::None, false);
}

void WindowLogic::openDownloadPage() { desktop_.openAddress("http://www.example.com/policy.asp"); }

// The About window shows the caption of the moment it opens.
void WindowLogic::showAbout() { desktop_.showAbout(ui_.title()); }

// The desktop's system-information program; without one the operator gets
// the two error boxes, in this order.
void WindowLogic::showSystemInfo() {
    const std::string program = desktop_.systemInfoProgram();
    if (program.empty()) desktop_.messageBox(gbk("错误"), gbk("错误 - 文件找不到..."), BoxIcon::Error, false);
    if (!program.empty()) desktop_.startProgram(program);
    if (program.empty()) desktop_.messageBox(gbk("错误"), gbk("错误 - 注册表项找不到..."), BoxIcon::Error, false);
}

// A copy that is still starting (or ending at the bridge-library box) has
// no window to show yet.
void WindowLogic::onActivationRequested() {
    if (started_) desktop_.bringToFront();
}

// The changed settings are saved, the link is closed and the process ends;
// a run in progress is abandoned.
void WindowLogic::saveSettingsAndExit() {
    if (link_) {
        saveCurrentSettings();
        link_->closeTransport();
    }
    desktop_.endProcess(0);
}

void WindowLogic::sessionEnding() {
    if (link_) saveCurrentSettings();
}

void WindowLogic::sessionEnded() {
    if (link_) {
        saveCurrentSettings();
        link_->closeTransport();
    }
    desktop_.endProcess(0);
}

// Only the values that differ from the file are written, so a value saved at
// the first notice of a session's end is not written again at its end.
void WindowLogic::saveCurrentSettings() {
    SettingsToSave values;
    values.baudText = ui_.selectedBaudText();
    values.filePath = ui_.fieldText(Field::FilePath);
    values.countText = ui_.fieldText(Field::Count);
    values.portName = link_->portName;
    saveSettings(settingsPath_, values);
}

} // namespace mub
