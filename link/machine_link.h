// The link to the machine: the state shared by connecting, upgrading and
// model checking, and the only primitives that move bytes.
//
// One instance lives as long as the program (the window or mubtool owns it).
// The transport is fixed at construction: the USB bridge library, or the
// serial channel searched port by port.
#pragma once

#include "platform/bridge_library.h"
#include "platform/ui.h"
#include "serial/serial_channel.h"
#include "serial/serial_settings.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace mub {

using Bytes = std::vector<std::uint8_t>;

class MachineLink {
public:
    // `bridge` is used only in USB mode and may be null in COM mode.
    MachineLink(Ui& ui, SerialChannel& serial, BridgeLibrary* bridge, bool usbMode);
    // Closes the serial channel: its handlers report to this object.
    ~MachineLink();

    Ui& ui() { return ui_; }
    bool usbMode() const { return usbMode_; }
    BridgeParams& bridgeParams() { return bridgeParams_; }
    BridgeLibrary* bridge() { return bridge_; }
    SerialChannel& serial() { return serial_; }

    // Sends all bytes; 0 on success.
    std::uint32_t writePacket(const Bytes& data);
    // raw: `count` bytes (fewer when they do not come; over COM also more);
    // framed (raw false): one framed reply, count ignored. Empty: nothing came.
    // Over COM a read ends early when Stop clears `running` during it, and a
    // framed read ends once it holds more bytes than the longest frame.
    Bytes readPacket(std::int32_t count, bool raw);

    std::uint32_t linkStatus() const;
    void setLinkStatus(std::uint32_t status);

    // Ends a run or a check: disconnects the bridge in USB mode, closes the
    // serial channel. Harmless when repeated.
    void closeTransport();

    // The stop flag of the current operation; Stop clears it.
    std::atomic<bool> running{false};
    // The COM port last known to answer ("COM1" ...); updated by connectMachine.
    std::string portName = "COM1";
    // The record handed to the serial channel; connectMachine sets baudRate.
    SerialSettings serialSettings;

    // Handlers given to SerialChannel::open.
    void onSerialData(const std::uint8_t* bytes, std::int32_t count);
    void onSerialStatus(std::int32_t outputQueued, std::int32_t inputQueued, std::int32_t errorBits, std::int32_t holdBits);
    void onSerialError(const std::string& text);

private:
    Ui& ui_;
    SerialChannel& serial_;
    BridgeLibrary* bridge_;
    const bool usbMode_;
    BridgeParams bridgeParams_;

    Bytes readUsb(std::int32_t count, bool raw);
    Bytes readCom(std::int32_t count, bool raw);

    mutable std::mutex lock_; // guards receiveBuffer_, linkStatus_ and arrivals_
    Bytes receiveBuffer_;
    std::uint32_t linkStatus_ = StatusOk;
    // Number of non-empty deliveries so far, and its value when the read loop
    // last came back from a wait: a delivery after that may have left a wake
    // pending, so the next wait can end early and must not count as idle.
    std::uint64_t arrivals_ = 0;
    std::uint64_t arrivalsAtWaitEnd_ = 0;
};

} // namespace mub
