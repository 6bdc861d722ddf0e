// The link to the machine: the state shared by connecting, upgrading and
// model checking, and the only primitives that move bytes.
//
// One instance lives as long as the program (the window or mubtool owns it),
// over the transport chosen at start: the USB bridge library, or the serial
// channel searched port by port.
#pragma once

#include "link/frame.h"
#include "link/transport.h"
#include "platform/waits.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace mub {

class MachineLink {
public:
    MachineLink(Waits& waits, Transport& transport);
    // Closes the transport: its handlers report to the link's state.
    ~MachineLink();
    MachineLink(const MachineLink&) = delete;
    MachineLink& operator=(const MachineLink&) = delete;

    Waits& waits() { return waits_; }
    Transport& transport() { return transport_; }

    // Sends all bytes; 0 on success.
    std::uint32_t writePacket(const Bytes& data) { return transport_.write(data); }
    // raw: `count` bytes (fewer when they do not come; over COM also more);
    // framed (raw false): one framed reply, count ignored. Empty: nothing came.
    // A read ends early when Stop clears `running` during it.
    Bytes readPacket(std::int32_t count, bool raw) { return transport_.read(count, raw, running); }
    // waits().pumpDelay(pauseMicroseconds) and then readPacket, in one wait
    // where the transport's reads wait for their bytes.
    Bytes readPacketAfterPause(std::int32_t pauseMicroseconds, std::int32_t count, bool raw) {
        return transport_.readAfterPause(waits_, pauseMicroseconds, count, raw, running);
    }

    std::uint32_t linkStatus() const { return transport_.status(); }
    void setLinkStatus(std::uint32_t status) { transport_.setStatus(status); }
    std::string transportFault() const { return transport_.fault(); }

    // Ends a run or a check. Harmless when repeated.
    void closeTransport() { transport_.close(); }

    // The stop flag of the current operation; Stop clears it.
    std::atomic<bool> running{false};
    // The COM port last known to answer ("COM1" ...); updated by connectMachine.
    std::string portName = "COM1";

private:
    Waits& waits_;
    Transport& transport_;
};

} // namespace mub
