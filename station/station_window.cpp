#include "station/station_window.h"

#include "link/baud_rates.h"
#include "platform/diagnostic_log.h"
#include "platform/gbk_text.h"
#include "platform/profile_file.h"
#include "upgrade/outcome_words.h"
#include "upgrade/upgrade_ending.h"

#include <algorithm>
#include <cstdio>
#include <set>

namespace mub {
namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* stationSection = "Station";

// The options a locked station keeps from its settings.
constexpr const char* lockedOptions[] = {"--ports", "--baud", "--log", "--verify", "--verify-wait"};

// Why a machine failed, in the operator's words, when no error box said it.
std::string outcomeText(const std::string& outcome) {
    const char* words = outcomeWords(outcome);
    return words ? gbk(words) : outcome;
}

std::string identityLine(const StationModel::Port& p) {
    if (p.model.empty() && p.hardware.empty() && p.software.empty()) return {};
    return p.model + "  " + p.hardware + "  " + p.software;
}

} // namespace

StationTile stationTile(const StationModel::Port& p, bool running) {
    StationTile tile;
    tile.port = gbk(p.name);
    tile.machine = identityLine(p);
    tile.running = running;
    const bool failed = !p.outcome.empty() && !machinePassed(p.exitCode);
    switch (p.state) {
    case PortState::Waiting:
        tile.state = gbk("等待机器");
        if (!p.outcome.empty()) tile.detail = gbk("上一台：") + (failed ? gbk("失败，") : std::string()) +
                                               (failed && !p.failureText.empty() ? p.failureText : outcomeText(p.outcome));
        break;
    case PortState::Identifying:
        tile.state = gbk("识别中");
        tile.colour = TileColour::Blue;
        break;
    case PortState::Upgrading:
        tile.state = gbk("升级中");
        tile.colour = TileColour::Blue;
        tile.percent = p.percent;
        break;
    case PortState::Restarting:
        tile.state = gbk("合格");
        tile.colour = TileColour::Green;
        tile.detail = gbk("升级完成，等待机器重启");
        break;
    case PortState::Verifying:
        tile.state = gbk("校验中");
        tile.colour = TileColour::Amber;
        tile.detail = gbk("升级完成，等待机器重启后确认版本");
        break;
    case PortState::Removing:
        tile.state = gbk(failed ? "失败" : "合格");
        tile.colour = failed ? TileColour::Red : TileColour::Green;
        tile.detail = (failed && !p.failureText.empty() ? p.failureText : outcomeText(p.outcome)) + gbk("，请取下机器");
        break;
    case PortState::Ended:
        tile.state = gbk("已停止");
        if (!p.outcome.empty()) tile.detail = gbk("上一台：") + outcomeText(p.outcome);
        break;
    }
    return tile;
}

std::string totalsText(const StationModel::Totals& t, Clock::time_point now) {
    const long long all = t.done + t.failed;
    const double seconds = std::chrono::duration<double>(now - t.since).count();
    char yield[32] = "-", rate[32] = "-";
    if (all > 0)
        std::snprintf(yield, sizeof yield, "%.1f%%", 100.0 * static_cast<double>(t.done) / static_cast<double>(all));
    // Machines per hour once a minute has gone by: before that one machine
    // more or less makes a figure nobody can plan with.
    if (seconds >= 60) std::snprintf(rate, sizeof rate, "%.0f", static_cast<double>(all) * 3600.0 / seconds);
    char text[160];
    std::snprintf(text, sizeof text, "合格 %lld　不合格 %lld　合格率 %s　%s 台/小时", t.done, t.failed, yield, rate);
    return gbk(text);
}

StationWindow::StationWindow(StationWindowHost host) : host_(std::move(host)) {}

StationWindow::~StationWindow() {
    run_.reset();
    if (log_) log_->onWritten({});
    sender_.reset();
}

void StationWindow::notice(const std::string& gbkText) { notices_.push_back(gbkText); }

bool StationWindow::begin(const std::vector<std::string>& args, std::string& error) {
    lock_.load(host_.settingsPath);
    // The settings first, then what the command line gives.
    const std::string& ini = host_.settingsPath;
    StationOptions saved;
    std::string usage;
    splitPortList(utf8(readProfileString(ini, stationSection, "Ports", "usb")), saved.ports, usage);
    saved.baud = readProfileString(ini, stationSection, "Baud", saved.baud);
    saved.logPath = utf8(readProfileString(ini, stationSection, "Log"));
    saved.verify = readProfileString(ini, stationSection, "Verify", "0") == "1";
    saved.verifySeconds = std::clamp(std::atoi(readProfileString(ini, stationSection, "VerifyWait", "60").c_str()), 1, 3600);
    saved.file = utf8(readProfileString(ini, stationSection, "File"));
    if (baudIndexOf(saved.baud) < 0) saved.baud = StationOptions().baud;

    StationOptions given;
    if (!parseStationArgs(args, given, usage, StationCommandLine::Window)) {
        error = gbk("命令行有误：") + gbk(usage);
        return false;
    }
    options_ = saved;
    const auto take = [&](const char* option, auto apply) {
        if (!given.given.count(option)) return;
        if (lock_.locked() && std::find(std::begin(lockedOptions), std::end(lockedOptions), std::string(option)) !=
                                  std::end(lockedOptions)) {
            notice(gbk("生产模式已锁定，忽略命令行的 ") + option);
            return;
        }
        apply();
    };
    take("--ports", [&] { options_.ports = given.ports; });
    take("--baud", [&] { options_.baud = given.baud; });
    take("--log", [&] { options_.logPath = given.logPath; });
    take("--verify", [&] { options_.verify = given.verify; });
    take("--verify-wait", [&] { options_.verifySeconds = given.verifySeconds; });
    take("--count", [&] { options_.count = given.count; });
    if (!given.file.empty()) {
        if (lock_.locked()) notice(gbk("生产模式已锁定，忽略命令行的升级文件"));
        else options_.file = given.file;
    }
    if (options_.ports.empty()) options_.ports = {"usb"};
    log_ = std::make_unique<UpgradeLog>(options_.logPath.empty() ? host_.defaultLogPath : options_.logPath);
    records_ = host_.records;
    // A station locked before it sent records has no collector of its own
    // in station.ini ("\n" marks the missing key): cfg.ini's goes on.
    if (const std::string sendTo = readProfileString(ini, stationSection, "RecordsSendTo", "\n");
        lock_.locked() && sendTo != "\n") {
        const CollectorTarget locked{sendTo, readProfileString(ini, stationSection, "RecordsToken")};
        if (locked.address != records_.address || locked.token != records_.token)
            notice(gbk("生产模式已锁定，记录仍发往锁定时的收集服务器"));
        records_ = locked;
    }
    startRecordSender();
    slots_ = std::make_unique<StationSlots>(options_.count);
    if (!options_.file.empty()) {
        std::string fileError;
        if (!openFile(options_.file, fileError)) notice(fileError);
    }
    makeRun();
    return true;
}

void StationWindow::startRecordSender() {
    if (!records_.configured() && records_.token.empty()) return;
    if (const std::string problem = collectorTargetProblem(records_); !problem.empty()) {
        diagnosticLine("records: " + problem + "; nothing is sent");
        notice(gbk("记录发送设置有误（[Records]），记录不发送"));
        return;
    }
    RecordSender::Setup setup;
    setup.logPath = log_->path();
    setup.target = records_;
    sender_ = std::make_unique<RecordSender>(std::move(setup));
    log_->onWritten([sender = sender_.get()] { sender->wake(); });
}

void StationWindow::makeRun() {
    run_.reset();
    // Each name on its own: one that names no device is told and left out,
    // the others still get their tiles.
    std::vector<StationPort> ports;
    std::set<std::string> devices;
    for (const std::string& name : options_.ports) {
        std::vector<StationPort> found;
        std::string error;
        const PortsResult result = resolveStationPorts({name}, host_.windowTable, host_.usbPorts, found, error);
        if (result == PortsResult::BadName) notice(gbk("没有这个端口，已略过：") + gbk(name));
        if (result == PortsResult::NoUsbPort) notice(gbk("没有可用的 USB 串口；插上后会自动加入"));
        for (StationPort& port : found)
            if (devices.insert(stationPortDevice(port)).second) ports.push_back(std::move(port));
    }
    std::vector<std::string> names;
    for (const StationPort& port : ports) names.push_back(port.name);
    model_ = std::make_unique<StationModel>(names);
    StationRun::Setup setup;
    setup.baudIndex = baudIndexOf(options_.baud);
    setup.job.file = &file_.file;
    setup.job.verify = options_.verify;
    setup.job.comeBack = std::chrono::seconds(options_.verifySeconds);
    setup.job.log = log_.get();
    setup.job.model = model_.get();
    setup.job.machineSlots = slots_.get();
    setup.job.program = "mub-station";
    run_ = std::make_unique<StationRun>(setup, std::move(ports));
    nextUsbLook_ = Clock::now();
}

bool StationWindow::mayOpen(std::string& why) const {
    if (!run_ || !run_->anyRunning()) return true;
    why = gbk("请先停止全部端口，再打开升级文件。");
    return false;
}

bool StationWindow::openFile(const std::string& path, std::string& error) {
    if (!mayOpen(error)) return false;
    UpgradeFileRead read = readUpgradeFileAt(path);
    if (!read.ok()) {
        error = read.failureText();
        file_ = {};
        return false;
    }
    if (!lock_.takes(read.file.fileMd5)) {
        error = gbk("生产模式只接受批准的升级文件，此文件不在批准清单上（MD5 ") + read.file.fileMd5 + gbk("）。");
        return false;
    }
    file_ = std::move(read);
    options_.file = path;
    if (!lock_.locked()) writeProfileString(host_.settingsPath, stationSection, "File", gbk(path));
    return true;
}

void StationWindow::startIfReady() {
    if (file_.ok()) startAll();
}

void StationWindow::startAll() {
    if (!file_.ok()) {
        notice(gbk("请先打开升级文件。"));
        return;
    }
    run_->startAll();
}

void StationWindow::stopAll() { run_->stopAll(); }

void StationWindow::toggleAll() {
    if (run_->anyRunning()) stopAll();
    else startAll();
}

void StationWindow::togglePort(std::size_t port) {
    if (port >= run_->portCount()) return;
    if (run_->running(port)) run_->stop(port);
    else if (file_.ok()) run_->start(port);
    else notice(gbk("请先打开升级文件。"));
}

void StationWindow::resetTotals() { model_->resetTotals(); }

bool StationWindow::tick() {
    const bool usb = std::any_of(options_.ports.begin(), options_.ports.end(), isUsbWord);
    if (usb && Clock::now() >= nextUsbLook_) {
        nextUsbLook_ = Clock::now() + usbLookEvery;
        const std::size_t joined = run_->join(usbStationPorts(host_.windowTable, host_.usbPorts), run_->anyRunning());
        if (joined > 0) notice(gbk("新的 USB 串口：") + std::to_string(joined) + gbk(" 个"));
    }
    for (const std::string& line : model_->takeNews().lines)
        if (line.find("upgrade log ") != std::string::npos)
            notice(gbk("升级记录无法写入：") + gbk(log_->path()) + gbk("（升级照常进行，记录在能写入时补上）"));
    if (slots_->allFinished()) {
        run_->stopAll();
        if (!run_->anyRunning()) ended_ = true;
    }
    return !ended_;
}

bool StationWindow::idle() const { return !run_->anyRunning(); }

int StationWindow::exitCode() const { return model_->totals().failed > 0 ? 10 : 0; }

std::vector<StationTile> StationWindow::tiles() const {
    std::vector<StationTile> tiles;
    const std::vector<StationModel::Port> ports = model_->ports();
    for (std::size_t i = 0; i < ports.size(); ++i) tiles.push_back(stationTile(ports[i], run_->running(i)));
    return tiles;
}

bool StationWindow::anyRunning() const { return run_->anyRunning(); }

std::string StationWindow::fileLine() const {
    if (!file_.ok()) return gbk("未打开升级文件");
    const UpgradeFile& f = file_.file;
    return gbk("升级文件：") + gbk(options_.file) + gbk("　") + f.modelId + "  " + f.hardwareVersion + "  " +
           f.softwareVersion + (options_.verify ? gbk("　升级后确认版本") : std::string());
}

std::vector<std::string> StationWindow::totalsLines() const {
    const auto now = Clock::now();
    const std::size_t waiting = sender_ ? sender_->waiting() : 0;
    return {gbk("启动后：") + totalsText(model_->totals(), now) + (waiting > 0 ? gbk("　") + waitingRecordsText(waiting) : ""),
            gbk("清零后：") + totalsText(model_->totalsSinceReset(), now)};
}

std::vector<std::string> StationWindow::takeNotices() { return std::exchange(notices_, {}); }

std::string StationWindow::toggleCaption() const { return gbk(anyRunning() ? "全部停止(F8)" : "全部开始(F8)"); }

bool StationWindow::saveSettings() {
    std::string ports;
    for (const std::string& port : options_.ports) ports += (ports.empty() ? "" : ",") + port;
    const std::string& ini = host_.settingsPath;
    return writeProfileString(ini, stationSection, "Ports", gbk(ports)) && writeProfileString(ini, stationSection, "Baud", options_.baud) &&
           writeProfileString(ini, stationSection, "Log", gbk(options_.logPath)) &&
           writeProfileString(ini, stationSection, "Verify", options_.verify ? "1" : "0") &&
           writeProfileString(ini, stationSection, "VerifyWait", std::to_string(options_.verifySeconds)) &&
           writeProfileString(ini, stationSection, "File", gbk(options_.file)) &&
           writeProfileString(ini, stationSection, "RecordsSendTo", records_.address) &&
           writeProfileString(ini, stationSection, "RecordsToken", records_.token);
}

bool StationWindow::lockStation(const std::string& password, std::string& error) {
    if (!file_.ok()) {
        error = gbk("请先打开要批准的升级文件。");
        return false;
    }
    std::vector<std::string> approved = lock_.approved();
    if (std::find(approved.begin(), approved.end(), file_.file.fileMd5) == approved.end())
        approved.push_back(file_.file.fileMd5);
    if (!saveSettings()) {
        error = gbk("无法写入设置文件：") + gbk(host_.settingsPath);
        return false;
    }
    return lock_.lockWith(password, approved, error);
}

bool StationWindow::unlockStation(const std::string& password) { return lock_.unlock(password); }

bool StationWindow::lockAgain(std::string& error) { return saveSettings() ? lock_.relock(error) : false; }

} // namespace mub
