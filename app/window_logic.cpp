#include "app/window_logic.h"

#include "app/main_layout.h"
#include "app/settings/port_overrides.h"
#include "app/settings/settings_file.h"
#include "link/bridge_binding.h"
#include "platform/diagnostic_log.h"
#include "platform/gbk_text.h"
#include "platform/tone_player.h"
#include "records/record_sender.h"
#include "upgrade/program_title.h"
#include "upgrade/upgrade_log.h"
#include "upgrade_file/key_setup.h"
#include "upgrade_file/open_upgrade_file.h"

namespace mub {

namespace {

// Part 0 of the status bar, unless records wait to be sent.
constexpr const char* statusBarName = "Marrowind";

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

WindowLogic::~WindowLogic() {
    // The sender goes before the log that wakes it.
    if (log_) log_->onWritten({});
    sender_.reset();
}

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
    ui_.setStatusText(0, statusBarName);
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

    // The transport: the bridge library in USB mode, else the COM ports.
    // The bridge's parameter block starts with the USB ids and time-outs.
    LinkChoice choice;
    choice.usb = loaded.usbMode;
    choice.portName = loaded.portName;
    if (loaded.usbMode) {
        bridge_ = std::make_unique<BridgeBinding>();
        choice.bridge = bridge_.get();
    } else {
        loadPortOverrides(settingsPath_, choice.ports);
    }
    // The upgrade log lives beside cfg.ini, wherever the settings went.
    log_ = std::make_unique<UpgradeLog>(upgradeLogPathBeside(settingsPath_));
    SessionLog sessionLog;
    sessionLog.log = log_.get();
    sessionLog.describe = [](UpgradeLogEntry& entry) { entry.program = "upgrader"; };
    startRecordSender(loaded.records);
    session_ = std::make_unique<UpgradeSession>(ui_, choice, view_, sessionLog);
    opener_ = std::make_unique<UpgradeFileOpener>(ui_, file_, session_->link().running, settingsPath_);

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

SessionOptions WindowLogic::sessionOptions() {
    SessionOptions options;
    options.baudIndex = ui_.selectedBaudIndex();
    options.rule = identityRuleOf(ui_.title());
    options.counter = [this] { return ui_.fieldText(Field::Count); };
    options.ask = [this](const SessionEvent& question) -> std::optional<bool> { return ui_.askYesNo(question.box); };
    return options;
}

// Everything runs on the window's thread (F8 too), so the test of the
// session's state and the start or stop are one step.
void WindowLogic::toggleUpgrade() {
    if (!session_ || !file_.loaded) return;
    if (!session_->upgrading())
        session_->upgrade(file_, sessionOptions());
    else if (!session_->stopPressed())
        session_->stopUpgrade();
    else
        return; // a stopped run is still unwinding (F8 held down repeats): the press is ignored
    tellLogFailure();
}

// Without a loaded file F8 does nothing, not even raise the window.
void WindowLogic::onUpgradeHotKey() {
    if (!session_ || !file_.loaded) return;
    desktop_.raiseWindow();
    toggleUpgrade();
}

// The button's second click (while the check waits) stops the check.
void WindowLogic::detectModelCommand() {
    if (!session_) return;
    const bool starting = !session_->checking();
    session_->check(sessionOptions(), file_.loaded);
    if (starting) tellLogFailure();
}

void WindowLogic::startRecordSender(const RecordsSettings& settings) {
    const CollectorTarget target{settings.sendTo, settings.token};
    if (!target.configured() && target.token.empty()) return;
    if (const std::string problem = collectorTargetProblem(target); !problem.empty()) {
        diagnosticLine("records: [Records] of " + settingsPath_ + ": " + problem + "; nothing is sent");
        return;
    }
    RecordSender::Setup setup;
    setup.logPath = log_->path();
    setup.target = target;
    setup.onWaiting = [this](std::size_t waiting) {
        desktop_.runOnWindowThread([this, waiting] { showWaitingRecords(waiting); });
    };
    sender_ = std::make_unique<RecordSender>(std::move(setup));
    log_->onWritten([sender = sender_.get()] { sender->wake(); });
}

void WindowLogic::showWaitingRecords(std::size_t waiting) {
    ui_.setStatusText(0, waiting == 0 ? std::string(statusBarName) : waitingRecordsText(waiting));
}

const std::string& WindowLogic::upgradeLogPath() const {
    static const std::string none;
    return log_ ? log_->path() : none;
}

// Told once, and only once the operation is over: a box in the middle of a
// run would hold the run up.
void WindowLogic::tellLogFailure() {
    if (session_->link().running) return;
    const std::string reason = view_.takeLogFailure();
    if (reason.empty()) return;
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
    if (session_) {
        saveCurrentSettings();
        session_->link().closeTransport();
    }
    desktop_.endProcess(0);
}

void WindowLogic::sessionEnding() {
    if (session_) saveCurrentSettings();
}

void WindowLogic::sessionEnded() {
    if (session_) {
        saveCurrentSettings();
        session_->link().closeTransport();
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
    values.portName = session_->link().portName;
    saveSettings(settingsPath_, values);
}

} // namespace mub
