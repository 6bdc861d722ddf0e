// A station port over its own upgrade session: a serial channel to its one
// device, the waits of a front end without a window, and a view that
// records what the session tells (when the machine answered, the last
// error box, whether the search found nothing) and shows the progress in
// the station's model.
#pragma once

#include "station/station_model.h"
#include "station/station_port.h"
#include "upgrade/headless_waits.h"
#include "upgrade/upgrade_session.h"

#include <atomic>
#include <optional>
#include <string>

namespace mub {

class StationPortView : public SessionObserver {
public:
    using Clock = std::chrono::steady_clock;
    StationPortView(StationModel& model, std::size_t index, HeadlessWaits& waits)
        : model_(model), index_(index), waits_(waits) {}
    void on(const SessionEvent& event) override;
    // The questions of the checks are answered yes (as `mubtool upgrade --yes`).
    std::optional<bool> ask(const SessionEvent& question);

    // A new operation: nothing recorded yet. `search`: it is the search for
    // a new machine, whose answer the port shows as identifying.
    void clear(bool search = false);
    // The search goes on: a port shown identifying waits again.
    void searchGoesOn();
    // The text of the last error box since the operation began (GBK).
    const std::string& lastBox() const { return lastBox_; }
    // The search gave up: no machine on the port (yet).
    bool nothingFound() const { return nothingFound_; }
    // When the machine answered the probe during this operation.
    std::optional<Clock::time_point> foundAt() const { return foundAt_; }

private:
    StationModel& model_;
    const std::size_t index_;
    HeadlessWaits& waits_;
    std::string lastBox_;
    bool search_ = false;
    bool nothingFound_ = false;
    std::optional<Clock::time_point> foundAt_;
};

class LinkPortMachine : public PortMachine {
public:
    LinkPortMachine(const StationPort& port, IdentityRule rule, int baudIndex, const UpgradeFile& file,
                    StationModel& model, std::size_t index, const std::atomic<bool>& stop);
    ~LinkPortMachine() override;

    Found waitForMachine() override;
    Upgraded upgrade(const MachineInfo& machine) override;
    std::optional<MachineInfo> check(Clock::duration bound) override;
    void release() override;
    bool stopping() const override { return stop_.load(); }
    void pause(Clock::duration length) override;
    // From any thread, after the station's stop flag was raised: the port's
    // wait under way looks at it now.
    void interruptWaits() { waits_.interrupt(); }

private:
    // A new operation, stopped by the station's stop or at `deadline`;
    // `stop` is what Stop does to it (nothing: a pause only ends).
    void beginOperation(std::optional<Clock::time_point> deadline, std::function<void()> stop);
    void rest(Clock::duration length);

    const std::atomic<bool>& stop_;
    const UpgradeFile& file_;
    HeadlessWaits waits_;
    StationPortView view_;
    UpgradeSession session_;
    SessionOptions options_;
};

} // namespace mub
