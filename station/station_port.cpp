#include "station/station_port.h"

#include "platform/gbk_text.h"
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
        while (!machine_.stopping()) {
            const PortMachine::Found found = machine_.waitForMachine();
            if (found.kind == Kind::Nothing) break;
            if (!job_.slots->take()) {
                // The count is reached: this machine is left as it is.
                if (found.kind == Kind::Machine) machine_.release();
                break;
            }
            std::optional<MachineInfo> last = handle(found);
            job_.slots->finish();
            if (job_.slots->exhausted() || machine_.stopping()) break;
            model_.setState(index_, PortState::Removing);
            waitUntilGone(last);
            if (!machine_.stopping()) model_.setState(index_, PortState::Waiting);
        }
        model_.setState(index_, PortState::Ended);
    }

private:
    UpgradeLogEntry newEntry() const {
        UpgradeLogEntry e;
        e.program = job_.program;
        e.port = portName_;
        describeFile(e, job_.file->path, *job_.file);
        return e;
    }

    // Upgrades (or logs the failure of) one machine; returns its identity
    // as last seen.
    std::optional<MachineInfo> handle(const PortMachine::Found& found) {
        std::optional<MachineInfo> last;
        UpgradeLogEntry entry = newEntry();
        std::string failureText;
        double transferSeconds = 0;
        if (found.kind == Kind::Unidentified) {
            const Ending ending = upgradeEnding(false, false, UpgradeOutcome::Stopped, machine_.stopping(), false);
            entry.outcome = ending.outcome;
            entry.exitCode = ending.exitCode;
            failureText = found.failureText;
        } else {
            const MachineInfo& m = found.machine;
            last = m;
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
            failureText = up.failureText;
            if (up.completed) transferSeconds = up.report.elapsedMs / 1000.0;
            if (up.completed) {
                if (auto after = comeBack(entry)) last = after;
            }
        }
        entry.seconds = std::chrono::duration<double>(Clock::now() - found.foundAt).count();
        // The line is on the disk before the machine is reported finished.
        const UpgradeLog::Result logged = job_.log->append(entry);
        if (logged.firstFailure)
            model_.notice("upgrade log " + job_.log->path() + ": " + *logged.firstFailure +
                          " (upgrades go on; the lines are kept and written once it can be)");
        model_.finished(index_, entry, failureText, transferSeconds);
        return last;
    }

    // After the end mark the machine restarts. Until it answers again its
    // silence is no sign that it was taken away, so the port waits for it
    // (at most job.comeBack). With --verify its software version is checked:
    // one that still reports another version may not have restarted yet, and
    // is asked again until the bound.
    std::optional<MachineInfo> comeBack(UpgradeLogEntry& entry) {
        if (job_.verify) model_.setState(index_, PortState::Verifying);
        const auto deadline = Clock::now() + job_.comeBack;
        std::optional<MachineInfo> seen;
        for (;;) {
            const auto left = deadline - Clock::now();
            if (left <= Clock::duration::zero() || machine_.stopping()) break;
            // A check asks until its bound: no answer means the time is up.
            const auto answer = machine_.check(left);
            if (!answer) break;
            seen = answer;
            if (!job_.verify || seen->software == job_.file->softwareVersion) break;
            machine_.pause(checkInterval);
        }
        if (!job_.verify) return seen;
        const Ending ending = verifyEnding(seen.has_value(), seen && seen->software == job_.file->softwareVersion);
        entry.outcome = ending.outcome;
        entry.exitCode = ending.exitCode;
        if (seen) entry.softwareAfter = seen->software;
        return seen;
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
