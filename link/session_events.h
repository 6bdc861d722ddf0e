// What connecting, upgrading and model checking tell their front end. They
// read no window: they take their inputs as values and report every pane
// text, box, control change and tone as one event to a SessionObserver. The
// window maps the events to its controls (app/session_view.h), mubtool
// prints them, a station port records them.
//
// An event carries the texts it shows, so that each text exists once: how
// the message pane takes it (replaced or appended) and the text of the error
// box that comes with it. All texts are GBK byte strings.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace mub {

// What the machine says it is: model, hardware version, software version
// (GBK texts, each up to its first zero byte).
struct MachineInfo {
    std::string model;
    std::string hardware;
    std::string software;
};

// Why an upgrade run ended.
enum class UpgradeOutcome {
    Completed,            // whole image acknowledged, completion report written
    EmptyImage,           // refused: the file carries no image bytes
    HardwareMismatch,     // refused
    ModelMismatch,        // refused
    SameVersionDeclined,  // the operator answered No
    OlderVersionDeclined, // the operator answered No
    LinkLost,             // a send failed
    ImageTooLarge,        // the machine gave up with Cancel (0x18)
    ChecksumFailed,       // the machine answered 0x04
    TooManyFailures,      // the consecutive or total failure limit was passed
    Stopped,              // Stop cleared the running flag
};

enum class SessionEventKind {
    // Connecting (connectMachine and the searches).
    ConnectBegun,    // the baud-rate list and the open button are locked, the machine fields emptied
    NoUsbDevice,     // USB: no device (pane)
    UsbDeviceBusy,   // USB: the device number is taken (pane)
    UsbDeviceError,  // USB: another error (pane)
    PortOpenError,   // COM: the port opened with an error status (pane)
    PortOpened,      // COM: the port opened cleanly, probing begins (pane)
    MachineFound,    // the machine answered the probe (pane)
    ProbeLost,       // a probe could not be sent (pane)
    SearchTimedOut,  // COM: no port answered: nothing there (pane, box)
    LinkLost,        // the confirmation or a request could not be sent (pane)
    LinkConfirmed,   // the machine echoed the mark (pane, appended)
    ConfirmFailed,   // the mark was not echoed (pane, box)
    IdentityField,   // one identity text read: `field`, `value`
    InfoFailed,      // a request got no valid reply (pane, box)
    InfoRead,        // all three texts read (pane, appended)
    Identified,      // connectMachine returned the machine's identity: `machine`
    // The upgrade run.
    Refused,         // an identity check or an empty image refused the run: `outcome` (pane, box)
    Question,        // a question is put (`question`, its text in `box`); answered by the run's ask
    Declined,        // a question answered No: `outcome` (pane)
    UpdateBegun,     // the begin command goes out; both buttons are locked (pane, appended)
    MachineReady,    // the machine said "C": the progress display shows 0, the clock stops
    TransferBegun,   // the blocks follow (pane, appended)
    Progress,        // before a block is sent, when `position` (0..99) changed: `blocksDone` of `blocksTotal`
    BlockAcknowledged, // a block was acknowledged: `blocksDone`, `bytesDone` of `bytesTotal`
    BlockTimeout,    // no acknowledgement in time; the block goes again (pane, appended)
    RunFailed,       // the run gave up: `outcome` (pane, box)
    Completed,       // the whole image acknowledged: `elapsedMs` (pane, appended); the bar at 100
    Counter,         // the counter after a completed upgrade: `value`
    DisplayRestored, // after the completion: the progress display hidden, the clock running
    Tone,            // `hertz` for `milliseconds`; the front end plays it (or waits its length)
    // The toggles around them (upgrade/upgrade_session.h).
    UpgradeStarted,  // the upgrade toggle turned into Stop
    UpgradeStopped,  // Stop pressed during an upgrade (pane)
    UpgradeFinished, // the upgrade is over, the window back to idle
    CheckStarted,    // the model check's button turned into Stop
    CheckStopped,    // Stop pressed during a check (pane)
    CheckFinished,   // the check is over: `upgradeAllowed` tells whether the upgrade button comes back
    LogFailed,       // the upgrade log could not be written, the first time: `value` (UTF-8 reason)
};

// How the message pane takes the event's text.
enum class Pane { Keep, Replace, Append };

enum class IdentityText { Model, Hardware, Software };
enum class Question { SameVersion, OlderVersion };

struct SessionEvent {
    SessionEventKind kind;
    Pane pane = Pane::Keep;
    std::string text; // for the pane
    std::string box;  // the error box that follows the pane's change, or the question; empty: none
    UpgradeOutcome outcome = UpgradeOutcome::Stopped;
    IdentityText field = IdentityText::Model;
    Question question = Question::SameVersion;
    std::string value; // IdentityField, Counter, LogFailed
    MachineInfo machine;
    int position = 0;
    std::uint32_t blocksDone = 0;
    std::uint32_t blocksTotal = 0;
    std::uint64_t bytesDone = 0;
    std::uint64_t bytesTotal = 0;
    std::uint32_t elapsedMs = 0;
    int hertz = 0;
    int milliseconds = 0;
    bool upgradeAllowed = false;

    explicit SessionEvent(SessionEventKind k) : kind(k) {}
    SessionEvent(SessionEventKind k, Pane p, std::string paneText, std::string boxText = {})
        : kind(k), pane(p), text(std::move(paneText)), box(std::move(boxText)) {}
};

// A tone of `hertz` for `milliseconds`.
inline SessionEvent toneEvent(int hertz, int milliseconds) {
    SessionEvent tone(SessionEventKind::Tone);
    tone.hertz = hertz;
    tone.milliseconds = milliseconds;
    return tone;
}

class SessionObserver {
public:
    virtual ~SessionObserver() = default;
    virtual void on(const SessionEvent& event) = 0;
};

// An observer that lets every event pass.
class NoObserver : public SessionObserver {
public:
    void on(const SessionEvent&) override {}
};

} // namespace mub
