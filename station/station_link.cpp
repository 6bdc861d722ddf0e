#include "station/station_link.h"

#include "platform/gbk_text.h"

namespace mub {
namespace {

// A search over a port that never answers gives up now and then; a port
// that cannot even be opened gives up at once, and is looked at again no
// faster than this.
constexpr std::chrono::seconds searchPause{1};
// A port waits for its machine all shift: it probes twice a second (a
// machine plugged in is found half a second later at most, well within its
// start-up), not back to back as the window's search does, about 45 times a
// second.
constexpr std::chrono::milliseconds probeGap{500};

LinkChoice portChoice(const StationPort& port) {
    LinkChoice choice;
    choice.ports = port.table;
    choice.portName = "COM" + std::to_string(port.number);
    return choice;
}

} // namespace

void StationPortView::on(const SessionEvent& event) {
    using K = SessionEventKind;
    switch (event.kind) {
    case K::MachineFound:
        if (!foundAt_) foundAt_ = Clock::now();
        if (search_) model_.setState(index_, PortState::Identifying);
        break;
    case K::SearchTimedOut: nothingFound_ = true; break;
    case K::MachineReady: model_.setPercent(index_, 0); break;
    case K::Progress: model_.setPercent(index_, event.position); break;
    case K::Completed: model_.setPercent(index_, 100); break;
    // No sound at a station port; the pause keeps the run's timing.
    case K::Tone: waits_.pause(std::chrono::milliseconds(event.milliseconds)); break;
    default: break;
    }
    if (!event.box.empty() && event.kind != K::Question) lastBox_ = event.box;
}

std::optional<bool> StationPortView::ask(const SessionEvent& question) {
    model_.event(index_, "question: " + printableUtf8(question.box) + " answered yes");
    return true;
}

void StationPortView::searchGoesOn() {
    if (search_ && foundAt_) model_.setState(index_, PortState::Waiting);
}

void StationPortView::clear(bool search) {
    search_ = search;
    lastBox_.clear();
    nothingFound_ = false;
    foundAt_.reset();
}

LinkPortMachine::LinkPortMachine(const StationPort& port, IdentityRule rule, int baudIndex, const UpgradeFile& file,
                                 StationModel& model, std::size_t index, const std::atomic<bool>& stop)
    : stop_(stop), file_(file),
      waits_([this] { return stop_.load(); }),
      view_(model, index, waits_), session_(waits_, portChoice(port), view_) {
    options_.baudIndex = baudIndex;
    options_.rule = rule;
    options_.probeGap = probeGap;
    options_.ask = [this](const SessionEvent& question) { return view_.ask(question); };
}

LinkPortMachine::~LinkPortMachine() { session_.release(); }

void LinkPortMachine::beginOperation(std::optional<Clock::time_point> deadline, std::function<void()> stop) {
    waits_.setStopDeadline(deadline);
    view_.clear();
    waits_.onStop = std::move(stop);
    waits_.rearmStop();
}

void LinkPortMachine::rest(Clock::duration length) {
    beginOperation(std::nullopt, {});
    waits_.pause(length);
}

PortMachine::Found LinkPortMachine::waitForMachine() {
    while (!stopping()) {
        // Stop ends the search as the Stop button ends the toggle's.
        beginOperation(std::nullopt, [this] { session_.release(); });
        view_.clear(true);
        const auto began = Clock::now();
        session_.link().running = true;
        const std::optional<MachineInfo> machine = session_.connect(options_);
        if (machine && !waits_.stopRequested()) {
            Found found;
            found.kind = Found::Kind::Machine;
            found.machine = *machine;
            found.foundAt = view_.foundAt().value_or(began);
            return found;
        }
        session_.release();
        if (stopping()) break;
        if (!view_.lastBox().empty() && !view_.nothingFound()) {
            // It answered the probe, then failed the handshake or the
            // identity requests: a machine, one that cannot be upgraded.
            Found found;
            found.kind = Found::Kind::Unidentified;
            found.failureText = view_.lastBox();
            found.foundAt = view_.foundAt().value_or(began);
            return found;
        }
        view_.searchGoesOn();
        const auto spent = Clock::now() - began;
        if (spent < searchPause) rest(searchPause - spent);
    }
    return {};
}

PortMachine::Upgraded LinkPortMachine::upgrade(const MachineInfo& machine) {
    // Stop is the toggle's: the run ends and the link is closed under it.
    beginOperation(std::nullopt, [this] { session_.stopUpgrade(); });
    Upgraded result;
    result.completed = session_.run(file_, machine, options_, result.report);
    result.stopped = !result.completed && waits_.stopRequested();
    result.failureText = view_.lastBox();
    session_.release();
    return result;
}

std::optional<MachineInfo> LinkPortMachine::check(Clock::duration bound) {
    const auto deadline = Clock::now() + bound;
    while (!stopping() && Clock::now() < deadline) {
        // The deadline is a second click on the check's button.
        beginOperation(deadline, [this] { session_.stopCheck(false); });
        const auto began = Clock::now();
        const std::optional<SessionResult> result = session_.check(options_, false);
        if (result && result->machine && !stopping()) return result->machine;
        const auto spent = Clock::now() - began;
        if (spent < searchPause && Clock::now() < deadline)
            rest(std::min<Clock::duration>(searchPause - spent, deadline - Clock::now()));
    }
    return std::nullopt;
}

void LinkPortMachine::release() {
    // The check's Stop: the machine is told that no upgrade follows, the
    // link is closed.
    beginOperation(std::nullopt, {});
    session_.stopCheck(false);
}

void LinkPortMachine::pause(Clock::duration length) { rest(length); }

} // namespace mub
