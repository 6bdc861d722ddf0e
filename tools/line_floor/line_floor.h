// The bare exchange of a transfer, with nothing of this program's own in it:
// a ready byte from the peer, then blocks of 133 bytes each answered with one
// byte, then an end byte. `line_floor` plays the tool with the system's own
// calls (a listener thread that reads the answers and wakes the thread that
// writes, as the serial channel is built), `line_floor_peer` the machine on a
// paced pseudo-terminal. The peer's time is what a tool on this system could
// reach at best; scripts/bench-transfer prints it beside the front ends.
#pragma once

#include "link/reply_latency.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace mub::floor {

inline constexpr std::uint8_t readyByte = 0x43;
inline constexpr std::uint8_t answerByte = 0x06;
inline constexpr std::uint8_t endByte = 0x04;
inline constexpr int blockBytes = 133;

// The tool's port, per system: open, with a listener thread that takes each
// byte that comes as an answer.
class FloorPort {
public:
    virtual ~FloorPort() = default;
    // Writes all bytes and waits until they are written.
    virtual bool write(const std::uint8_t* bytes, std::size_t count) = 0;
    // Waits for the next answer; when the listener took it.
    virtual ReplyLatency::Clock::time_point waitForAnswer() = 0;
};

// Nullptr, with the reason on stderr, when the port cannot be opened.
std::unique_ptr<FloorPort> openFloorPort(const char* name);

} // namespace mub::floor
