// One upgrade session, as every front end runs it: the window's two toggles,
// `mubtool upgrade` and `mubtool detect`, each port of a station. It makes
// the transport, connects, runs the upgrade or the model check, releases
// the link and writes the upgrade log's line; Stop (a click, F8, Ctrl+C, a
// station's end) may come nested inside any of its waits. It reads no
// window: its inputs are values, and it tells what happens as events.
#pragma once

#include "link/machine_link.h"
#include "link/session_events.h"
#include "link/transport.h"
#include "platform/bridge_library.h"
#include "serial/port_table.h"
#include "upgrade/run_upgrade.h"
#include "upgrade/upgrade_ending.h"
#include "upgrade/upgrade_log.h"
#include "upgrade_file/upgrade_file.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace mub {

// How the session reaches the machine.
struct LinkChoice {
    // The bridge library (USB mode; may be null: not loaded); without it the
    // COM ports of `ports`, searched from `portName` on.
    BridgeLibrary* bridge = nullptr;
    bool usb = false;
    PortTable ports;
    std::string portName = "COM1";
};

// The transport of `choice`, its waits `waits`.
std::unique_ptr<Transport> makeTransport(const LinkChoice& choice, Waits& waits);

// What an operation is given.
struct SessionOptions {
    int baudIndex = -1; // into link/baud_rates.h
    IdentityRule rule = IdentityRule::ProductionLine;
    std::function<std::string()> counter; // the counter's text when an upgrade completes; unset: "0"
    std::function<std::optional<bool>(const SessionEvent& question)> ask;
    // A pause after each probe nobody answered (see connectMachine); none
    // for the window's search, which probes back to back.
    std::chrono::microseconds probeGap{};
};

// How the session's lines go into the upgrade log.
struct SessionLog {
    UpgradeLog* log = nullptr; // none: nothing is logged
    // Fills in what only the front end knows (program, port, the file's
    // path as logged); called last, so it may also change what the session
    // filled in.
    std::function<void(UpgradeLogEntry&)> describe;
};

// How an operation ended.
struct SessionResult {
    std::optional<MachineInfo> machine; // identified
    bool completed = false;             // the whole image was acknowledged
    bool stopped = false;               // Stop came during the operation
    UpgradeReport report;
    Ending ending{"stopped", EndStopped};
};

class UpgradeSession {
public:
    UpgradeSession(Waits& waits, const LinkChoice& choice, SessionObserver& observer, SessionLog log = {});
    ~UpgradeSession();
    UpgradeSession(const UpgradeSession&) = delete;
    UpgradeSession& operator=(const UpgradeSession&) = delete;

    MachineLink& link() { return *link_; }
    Transport& transport() { return *transport_; }
    bool upgrading() const { return upgradesUnderWay_ > 0; }
    bool checking() const { return checksUnderWay_ > 0; }
    // A Stop came during the operation under way (or the last one).
    bool stopPressed() const { return stopPressed_; }

    // The upgrade toggle's start: connect, run, log, release. Nothing while
    // a model check holds the link or a stopped upgrade is still unwinding
    // from the waits this call runs nested in (F8 held down).
    std::optional<SessionResult> upgrade(const UpgradeFile& file, const SessionOptions& options);
    // The toggle's Stop, nested inside the upgrade's waits: told, the link
    // released at once; the upgrade further out ends and releases it again.
    void stopUpgrade();

    // The model check: connect, tell the machine no upgrade follows,
    // release, log. Nothing while an upgrade runs; a second call while a
    // check waits is its Stop.
    std::optional<SessionResult> check(const SessionOptions& options, bool fileLoaded);
    void stopCheck(bool fileLoaded);

    // The steps on their own, for a station port: it connects first and
    // takes the machine or lets it go.
    std::optional<MachineInfo> connect(const SessionOptions& options);
    bool run(const UpgradeFile& file, const MachineInfo& machine, const SessionOptions& options,
             UpgradeReport& report);
    // The end of an upgrade: the front end back to idle, the link released.
    void release();

    // A line for an operation that ended before it reached the machine (the
    // file failed, the bridge library cannot be used).
    void logWithoutMachine(Ending ending, const UpgradeFile* file);
    // A line of the caller's; the first failure is told as LogFailed.
    void writeLog(UpgradeLogEntry entry);

private:
    UpgradeLogEntry entryFor(const SessionResult& result, const UpgradeFile* file, std::uint32_t began) const;

    Waits& waits_;
    SessionObserver& observer_;
    SessionLog log_;
    bool usb_;
    std::unique_ptr<Transport> transport_;
    std::unique_ptr<MachineLink> link_; // closes the transport when it goes
    int upgradesUnderWay_ = 0;
    int checksUnderWay_ = 0;
    bool stopPressed_ = false;
};

} // namespace mub
