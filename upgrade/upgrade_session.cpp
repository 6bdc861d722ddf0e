#include "upgrade/upgrade_session.h"

#include "link/bridge_transport.h"
#include "link/connect_machine.h"
#include "link/serial_transport.h"
#include "platform/gbk_text.h"
#include "upgrade/detect_model.h"

namespace mub {

namespace {

RunOptions runOptionsOf(const SessionOptions& options) {
    RunOptions run;
    run.rule = options.rule;
    run.counter = options.counter;
    run.ask = options.ask;
    return run;
}

} // namespace

std::unique_ptr<Transport> makeTransport(const LinkChoice& choice, Waits& waits) {
    if (choice.usb) return std::make_unique<BridgeTransport>(choice.bridge);
    return std::make_unique<SerialTransport>(waits, choice.ports);
}

UpgradeSession::UpgradeSession(Waits& waits, const LinkChoice& choice, SessionObserver& observer, SessionLog log)
    : waits_(waits), observer_(observer), log_(std::move(log)), usb_(choice.usb),
      transport_(makeTransport(choice, waits)), link_(std::make_unique<MachineLink>(waits, *transport_)) {
    link_->portName = choice.portName;
}

UpgradeSession::~UpgradeSession() = default;

std::optional<SessionResult> UpgradeSession::upgrade(const UpgradeFile& file, const SessionOptions& options) {
    // A model check holds the link (its button is the one that stops it);
    // an upgrade started under it would fight it for the replies. A stopped
    // upgrade still unwinding would have the new one run inside it.
    if (link_->running || checking() || upgrading()) return std::nullopt;
    link_->running = true;
    observer_.on(SessionEvent(SessionEventKind::UpgradeStarted));
    stopPressed_ = false;
    ++upgradesUnderWay_;
    const std::uint32_t began = waits_.tickCount();

    SessionResult result;
    result.machine = connect(options);
    bool logged = false;
    if (result.machine) {
        RunOptions run = runOptionsOf(options);
        // A completed run is logged before it shows its completion.
        run.beforeCompletion = [&](const UpgradeReport& done) {
            SessionResult completed = result;
            completed.report = done;
            completed.completed = true;
            completed.ending = endingOf(UpgradeOutcome::Completed);
            writeLog(entryFor(completed, &file, began));
            logged = true;
        };
        result.completed = runUpgrade(*link_, file, *result.machine, run, observer_, &result.report);
    }
    result.stopped = stopPressed_;
    result.ending = upgradeEnding(result.machine.has_value(), result.completed, result.report.outcome, stopPressed_,
                                  result.report.unanswered);
    if (!logged) writeLog(entryFor(result, &file, began));
    --upgradesUnderWay_;
    release();
    return result;
}

void UpgradeSession::stopUpgrade() {
    observer_.on({SessionEventKind::UpgradeStopped, Pane::Replace, gbk("升级被停止！")});
    stopPressed_ = true;
    release();
}

void UpgradeSession::release() {
    observer_.on(SessionEvent(SessionEventKind::UpgradeFinished));
    link_->running = false;
    link_->closeTransport();
}

std::optional<SessionResult> UpgradeSession::check(const SessionOptions& options, bool fileLoaded) {
    if (upgrading()) return std::nullopt;
    if (checking()) {
        stopCheck(fileLoaded);
        return std::nullopt;
    }
    stopPressed_ = false;
    ++checksUnderWay_;
    const std::uint32_t began = waits_.tickCount();
    SessionResult result;
    result.machine = detectModel(*link_, options.baudIndex, fileLoaded, observer_, options.probeGap);
    --checksUnderWay_;
    result.stopped = stopPressed_;
    // A Stop wins, also one that came during the identification tone.
    result.ending = checkEnding(result.machine && !stopPressed_, stopPressed_);
    writeLog(entryFor(result, nullptr, began));
    return result;
}

void UpgradeSession::stopCheck(bool fileLoaded) {
    stopPressed_ = true;
    stopModelCheck(*link_, fileLoaded, observer_);
}

std::optional<MachineInfo> UpgradeSession::connect(const SessionOptions& options) {
    return connectMachine(*link_, options.baudIndex, observer_, options.probeGap);
}

bool UpgradeSession::run(const UpgradeFile& file, const MachineInfo& machine, const SessionOptions& options,
                         UpgradeReport& report) {
    return runUpgrade(*link_, file, machine, runOptionsOf(options), observer_, &report);
}

UpgradeLogEntry UpgradeSession::entryFor(const SessionResult& result, const UpgradeFile* file,
                                         std::uint32_t began) const {
    UpgradeLogEntry entry;
    entry.port = usb_ ? "USB" : link_->portName;
    if (file) describeFile(entry, utf8(file->path), *file);
    describeMachine(entry, result.machine);
    entry.outcome = result.ending.outcome;
    entry.exitCode = result.ending.exitCode;
    if (file) {
        entry.blocksDone = result.report.blocksDone;
        entry.timeouts = result.report.timeouts;
        entry.rejectedBlocks = result.report.rejectedBlocks;
    }
    entry.seconds = (waits_.tickCount() - began) / 1000.0;
    return entry;
}

void UpgradeSession::logWithoutMachine(Ending ending, const UpgradeFile* file) {
    SessionResult result;
    result.ending = ending;
    UpgradeLogEntry entry = entryFor(result, file, waits_.tickCount());
    if (file && !file->loaded) entry.imageMd5.clear(); // no image was decoded
    writeLog(entry);
}

void UpgradeSession::writeLog(UpgradeLogEntry entry) {
    if (!log_.log) return;
    if (log_.describe) log_.describe(entry);
    const UpgradeLog::Result result = log_.log->append(entry);
    if (result.firstFailure) {
        SessionEvent failed(SessionEventKind::LogFailed);
        failed.value = *result.firstFailure;
        observer_.on(failed);
    }
}

} // namespace mub
