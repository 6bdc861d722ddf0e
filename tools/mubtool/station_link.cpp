#include "tools/mubtool/station_link.h"

#include "link/connection_texts.h"
#include "platform/gbk_text.h"
#include "tools/mubtool/machine_session.h"
#include "upgrade/detect_model.h"

namespace mub::tool {
namespace {

// A search over a port that never answers gives up now and then; a port
// that cannot even be opened gives up at once, and is looked at again no
// faster than this.
constexpr std::chrono::seconds searchPause{1};

// The box of a search that found nothing: no machine on the port (yet).
bool nothingFound(const std::string& box) { return box.rfind(connectionTexts().searchTimeout, 0) == 0; }

} // namespace

StationPortUi::StationPortUi(std::string title, std::string baudText, int baudIndex, StationBoard& board,
                             std::size_t index, const std::atomic<bool>& stationStop)
    : HeadlessUi(std::move(title), std::move(baudText), baudIndex), board_(board), index_(index),
      stationStop_(stationStop) {}

void StationPortUi::setMessage(const std::string& text) {
    if (text == connectionTexts().deviceFound && !foundAt_) foundAt_ = Clock::now();
}

void StationPortUi::setProgress(int position) {
    HeadlessUi::setProgress(position);
    board_.setPercent(index_, position);
}

bool StationPortUi::askYesNo(const std::string& text) {
    board_.event(index_, "question: " + printableUtf8(text) + " answered yes");
    return true;
}

void StationPortUi::beginOperation(std::optional<Clock::time_point> deadline, std::function<void()> stop) {
    deadline_ = deadline;
    lastBox_.clear();
    foundAt_.reset();
    onStop = std::move(stop);
    rearmStop();
}

void StationPortUi::rest(Clock::duration length) {
    beginOperation(std::nullopt, {});
    pause(length);
}

bool StationPortUi::stopAsked() const {
    return stationStop_.load() || (deadline_ && Clock::now() >= *deadline_);
}

LinkPortMachine::LinkPortMachine(const StationPort& port, const std::string& title, const std::string& baud,
                                 const UpgradeFile& file, StationBoard& board, std::size_t index,
                                 const std::atomic<bool>& stop)
    : stop_(stop), file_(file), ui_(title, baud, baudItemIndex(baud), board, index, stop),
      transport_(ui_, port.table), link_(ui_, transport_) {
    link_.portName = "COM" + std::to_string(port.number);
}

LinkPortMachine::~LinkPortMachine() { finish(); }

void LinkPortMachine::finish() {
    link_.running = false;
    link_.closeTransport();
}

PortMachine::Found LinkPortMachine::waitForMachine() {
    while (!stopping()) {
        // Stop ends the search as the Stop button ends the toggle's.
        ui_.beginOperation(std::nullopt, [this] { finish(); });
        const auto began = Clock::now();
        link_.running = true;
        const std::optional<MachineInfo> machine = connectMachine(link_);
        if (machine && !ui_.stopRequested()) {
            Found found;
            found.kind = Found::Kind::Machine;
            found.machine = *machine;
            found.foundAt = ui_.foundAt().value_or(began);
            return found;
        }
        finish();
        if (stopping()) break;
        if (!ui_.lastBox().empty() && !nothingFound(ui_.lastBox())) {
            // It answered the probe, then failed the handshake or the
            // identity requests: a machine, one that cannot be upgraded.
            Found found;
            found.kind = Found::Kind::Unidentified;
            found.failureText = ui_.lastBox();
            found.foundAt = ui_.foundAt().value_or(began);
            return found;
        }
        const auto spent = Clock::now() - began;
        if (spent < searchPause) ui_.rest(searchPause - spent);
    }
    return {};
}

PortMachine::Upgraded LinkPortMachine::upgrade(const MachineInfo& machine) {
    // Stop is the toggle's: the run ends and the link is closed under it.
    ui_.beginOperation(std::nullopt, [this] {
        ui_.setMessage(gbk("升级被停止！"));
        finish();
    });
    Upgraded result;
    result.completed = runUpgrade(link_, file_, machine, &result.report);
    result.stopped = !result.completed && ui_.stopRequested();
    result.failureText = ui_.lastBox();
    finish();
    return result;
}

std::optional<MachineInfo> LinkPortMachine::check(Clock::duration bound) {
    const auto deadline = Clock::now() + bound;
    while (!stopping() && Clock::now() < deadline) {
        // The deadline is a second click on the check's button.
        ui_.beginOperation(deadline, [this] { detectModel(link_, noFile_); });
        const auto began = Clock::now();
        const std::optional<MachineInfo> machine = detectModel(link_, noFile_);
        if (machine && !stopping()) return machine;
        const auto spent = Clock::now() - began;
        if (spent < searchPause && Clock::now() < deadline)
            ui_.rest(std::min<Clock::duration>(searchPause - spent, deadline - Clock::now()));
    }
    return std::nullopt;
}

void LinkPortMachine::release() {
    // The check's Stop: the machine is told that no upgrade follows, the
    // link is closed.
    ui_.beginOperation(std::nullopt, {});
    ui_.setCaption(Control::DetectModelButton, gbk("停止"));
    detectModel(link_, noFile_);
}

void LinkPortMachine::pause(Clock::duration length) { ui_.rest(length); }

} // namespace mub::tool
