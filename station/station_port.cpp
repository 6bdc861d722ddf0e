#include "station/station_port.h"

#include "upgrade/upgrade_ending.h"

namespace mub {
namespace {

using Clock = PortMachine::Clock;
using Kind = PortMachine::Found::Kind;

// Between two checks of a machine that is still there.
constexpr std::chrono::seconds checkInterval{1};

class PortLoop {
public:
    PortLoop(std::size_t index, const std::string& portName, PortMachine& machine, const StationJob& job)
        : index_(index), portName_(portName), machine_(machine), job_(job), model_(*job.model) {}

    void run() {
        model_.setState(index_, PortState::Waiting);
        // The identity of a machine that came back from its upgrade as it
        // was before: the next machine with that identity gets one more try.
        std::optional<MachineInfo> unchanged;
        while (!machine_.stopping()) {
            const PortMachine::Found found = machine_.waitForMachine();
            if (found.kind == Kind::Nothing) break;
            if (!job_.machineSlots->take()) {
                // The count is reached: this machine is left as it is.
                if (found.kind == Kind::Machine) machine_.release();
                break;
            }
            const bool lastTry = unchanged && found.kind == Kind::Machine && sameIdentity(found.machine, *unchanged);
            unchanged.reset();
            const After after = handle(found, lastTry);
            job_.machineSlots->finish();
            if (job_.machineSlots->exhausted() || machine_.stopping()) break;
            if (after.next == Next::TakeIt) continue;
            if (after.next == Next::TryAgain) {
                unchanged = found.machine;
                continue;
            }
            if (after.next == Next::WaitUntilGone) {
                model_.setState(index_, PortState::Removing);
                waitUntilGone(after.last);
            }
            if (!machine_.stopping()) model_.setState(index_, PortState::Waiting);
        }
        model_.setState(index_, PortState::Ended);
    }

private:
    enum class Next {
        WaitUntilGone, // the machine is still there
        Gone,          // it no longer answers
        TakeIt,        // another machine answers: it is upgraded at once
        TryAgain,      // it answers as before its upgrade: upgraded once more
    };
    struct After {
        Next next = Next::WaitUntilGone;
        std::optional<MachineInfo> last; // as last seen
    };

    UpgradeLogEntry newEntry() const {
        UpgradeLogEntry e;
        e.program = job_.program;
        e.port = portName_;
        describeFile(e, job_.file->path, *job_.file);
        return e;
    }

    // The line is on the disk before the machine is shown finished.
    void log(const UpgradeLogEntry& entry) {
        const UpgradeLog::Result logged = job_.log->append(entry);
        if (logged.firstFailure)
            model_.notice("upgrade log " + job_.log->path() + ": " + *logged.firstFailure +
                          " (upgrades go on; the lines are kept and written once it can be)");
    }

    double secondsSince(Clock::time_point start) const {
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

    // Upgrades (or logs the failure of) one machine. A completed upgrade is
    // logged and shown at once, before the machine is heard again: it is
    // usually pulled right after the beep, and a station killed meanwhile
    // must not lose it. What the port hears afterwards is its second line.
    After handle(const PortMachine::Found& found, bool lastTry) {
        UpgradeLogEntry entry = newEntry();
        if (found.kind == Kind::Unidentified) {
            const Ending ending = upgradeEnding(false, false, UpgradeOutcome::Stopped, machine_.stopping(), false);
            entry.outcome = ending.outcome;
            entry.exitCode = ending.exitCode;
            entry.seconds = secondsSince(found.foundAt);
            log(entry);
            model_.finished(index_, entry, found.failureText, 0, true);
            return {};
        }
        const MachineInfo& m = found.machine;
        model_.setMachine(index_, m.model, m.hardware, m.software);
        model_.setState(index_, PortState::Upgrading);
        describeMachine(entry, m);
        const PortMachine::Upgraded up = machine_.upgrade(m);
        const Ending ending = upgradeEnding(true, up.completed, up.report.outcome, up.stopped, false);
        entry.outcome = ending.outcome;
        entry.exitCode = ending.exitCode;
        entry.blocksDone = up.report.blocksDone;
        entry.timeouts = up.report.timeouts;
        entry.rejectedBlocks = up.report.rejectedBlocks;
        entry.seconds = secondsSince(found.foundAt);
        const double transferSeconds = up.completed ? up.report.elapsedMs / 1000.0 : 0;
        log(entry);
        // With --verify the machine counts once its check has told.
        model_.finished(index_, entry, up.failureText, transferSeconds, !(up.completed && job_.verify));
        if (!up.completed) {
            // Silent for longer than a presence check before the run gave
            // up (unplugged in the middle of a block): it has gone already,
            // and a machine that answers now is one put in its place, not
            // this one still waiting to be taken away.
            const bool silentAtEnd = std::chrono::milliseconds(up.report.quietMs) >= job_.presence;
            if (!up.stopped && silentAtEnd) {
                model_.event(index_, "machine gone");
                return {Next::Gone, m};
            }
            return {Next::WaitUntilGone, m};
        }
        // The last machine of the count: no next one to tell it from.
        if (!job_.verify && job_.machineSlots->exhausted()) return {Next::Gone, m};
        return comeBack(entry, found, transferSeconds, lastTry);
    }

    // After the end mark the machine restarts; until it answers again its
    // silence is no sign that it was taken away, so the port asks it (at
    // most job.comeBack):
    // - the file's software version: it is back (--verify: "verified");
    // - another version and another identity than before its upgrade: a new
    //   machine, upgraded at once;
    // - the identity it had before: a new machine of the same kind or one
    //   whose upgrade did not take; only silence could tell them apart, so
    //   it is upgraded once more, and on that last try a machine that still
    //   reports it when the time is up is failed ("verify-mismatch").
    // With --verify a machine not heard with the file's version before
    // another one was taken, or before the time was up, is "unverified":
    // nothing is known against it.
    After comeBack(const UpgradeLogEntry& upgraded, const PortMachine::Found& found, double transferSeconds,
                   bool lastTry) {
        model_.setState(index_, job_.verify ? PortState::Verifying : PortState::Restarting);
        const MachineInfo& before = found.machine;
        const auto deadline = Clock::now() + job_.comeBack;
        std::optional<MachineInfo> seen;
        for (;;) {
            const auto left = deadline - Clock::now();
            if (left <= Clock::duration::zero() || machine_.stopping()) break;
            // A check asks until its bound: no answer means the time is up.
            seen = machine_.check(left);
            if (!seen || seen->software == job_.file->softwareVersion) break;
            if (!sameIdentity(*seen, before) || !lastTry) {
                if (job_.verify) verdict(upgraded, found, transferSeconds, std::nullopt);
                return {sameIdentity(*seen, before) ? Next::TryAgain : Next::TakeIt, seen};
            }
            machine_.pause(checkInterval);
        }
        const bool back = seen && seen->software == job_.file->softwareVersion;
        // Stopped while it was asked: nothing is known of it.
        if (machine_.stopping() && !back) seen.reset();
        if (job_.verify || (seen && !back)) verdict(upgraded, found, transferSeconds, seen);
        if (!seen) return {Next::Gone, before};
        return {Next::WaitUntilGone, seen};
    }

    // The second line of an upgrade, with its record id: what the machine
    // reported after it, if it was heard.
    void verdict(UpgradeLogEntry entry, const PortMachine::Found& found, double transferSeconds,
                 const std::optional<MachineInfo>& seen) {
        const Ending ending = verifyEnding(seen.has_value(), seen && seen->software == job_.file->softwareVersion);
        entry.outcome = ending.outcome;
        entry.exitCode = ending.exitCode;
        if (seen) entry.softwareAfter = seen->software;
        entry.seconds = secondsSince(found.foundAt);
        log(entry);
        model_.verdict(index_, entry, transferSeconds);
    }

    // Until the machine no longer answers a check (unplugged, switched off,
    // or its port gone), or another one answers: a machine swapped faster
    // than a check gives up shows itself by an identity other than the one
    // last seen, with a software version other than the file's (the one
    // just upgraded reports the file's; one whose upgrade failed, the same
    // as before).
    void waitUntilGone(std::optional<MachineInfo> last) {
        while (!machine_.stopping()) {
            const std::optional<MachineInfo> answer = machine_.check(job_.presence);
            if (!answer || (last && !sameIdentity(*answer, *last) &&
                            answer->software != job_.file->softwareVersion)) {
                if (!machine_.stopping()) model_.event(index_, "machine gone");
                return;
            }
            last = answer;
            machine_.pause(checkInterval);
        }
    }

    static bool sameIdentity(const MachineInfo& a, const MachineInfo& b) {
        return a.model == b.model && a.hardware == b.hardware && a.software == b.software;
    }

    const std::size_t index_;
    const std::string portName_;
    PortMachine& machine_;
    const StationJob& job_;
    StationModel& model_;
};

} // namespace

bool StationSlots::take() {
    if (limit_ == 0) {
        ++taken_;
        return true;
    }
    long long taken = taken_.load();
    while (taken < limit_)
        if (taken_.compare_exchange_weak(taken, taken + 1)) return true;
    return false;
}

void runStationPort(std::size_t index, const std::string& portName, PortMachine& machine, const StationJob& job) {
    PortLoop(index, portName, machine, job).run();
}

} // namespace mub
