// A port of `mubtool station` over its own link: a serial channel to its one
// device, a window of its own (StationPortUi) and the routines the window
// calls, connectMachine, runUpgrade and the model check's detectModel.
#pragma once

#include "link/machine_link.h"
#include "link/serial_transport.h"
#include "tools/mubtool/headless_ui.h"
#include "tools/mubtool/station_options.h"
#include "tools/mubtool/station_port.h"

#include <atomic>
#include <optional>

namespace mub::tool {

// The window of one port: it answers the questions of the checks with yes
// (as `mubtool upgrade --yes`), keeps the last error box's text for the
// port's report, shows the progress on the board, and stops when the
// station stops or an operation's deadline passes.
class StationPortUi : public HeadlessUi {
public:
    StationPortUi(std::string title, std::string baudText, int baudIndex, StationBoard& board, std::size_t index,
                  const std::atomic<bool>& stationStop);

    void setMessage(const std::string& text) override;
    void appendMessage(const std::string&) override {}
    void setProgress(int position) override;
    void errorBox(const std::string& text) override { lastBox_ = text; }
    bool askYesNo(const std::string& text) override;

    // A new operation, stopped by the station's stop or at `deadline`;
    // onStop is what Stop does to it (nothing: a pause only ends).
    void beginOperation(std::optional<Clock::time_point> deadline, std::function<void()> stop);
    // The text of the last error box since the operation began (GBK).
    const std::string& lastBox() const { return lastBox_; }
    // When the machine answered the probe during this operation.
    std::optional<Clock::time_point> foundAt() const { return foundAt_; }
    // Sleeps, ending early when a stop is asked for.
    void rest(Clock::duration length);

protected:
    bool stopAsked() const override;

private:
    StationBoard& board_;
    const std::size_t index_;
    const std::atomic<bool>& stationStop_;
    std::optional<Clock::time_point> deadline_;
    std::string lastBox_;
    std::optional<Clock::time_point> foundAt_;
};

class LinkPortMachine : public PortMachine {
public:
    LinkPortMachine(const StationPort& port, const std::string& title, const std::string& baud,
                    const UpgradeFile& file, StationBoard& board, std::size_t index, const std::atomic<bool>& stop);
    ~LinkPortMachine() override;

    Found waitForMachine() override;
    Upgraded upgrade(const MachineInfo& machine) override;
    std::optional<MachineInfo> check(Clock::duration bound) override;
    void release() override;
    bool stopping() const override { return stop_.load(); }
    void pause(Clock::duration length) override;

private:
    // The end of an operation, as the toggles end theirs: the link released.
    void finish();

    const std::atomic<bool>& stop_;
    const UpgradeFile& file_;
    const UpgradeFile noFile_; // a model check compares nothing with a file
    StationPortUi ui_;
    SerialTransport transport_;
    MachineLink link_;
};

} // namespace mub::tool
