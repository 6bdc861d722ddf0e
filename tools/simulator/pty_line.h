// The machine's end of the line: the master side of a new pseudo-terminal,
// with optional pacing so that every byte takes its real line time.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace mub::sim {

class PtyLine {
public:
    PtyLine() = default;
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // Creates the terminal (raw, no echo). `baud` 0 means no pacing.
    bool open(std::uint32_t baud, std::string& error);
    const std::string& path() const { return slavePath_; }
    bool isOpen() const { return master_ >= 0; }

    // Waits up to `timeoutMs` (-1: without limit) for bytes and appends what
    // came to `out`; false when nothing came (time-out, stop, or closed line).
    // While the other side has no terminal open the line just stays quiet.
    bool read(std::vector<std::uint8_t>& out, int timeoutMs, const std::atomic<bool>& stop);

    // With pacing: when the last bit of the bytes read so far has arrived
    // (may lie a little ahead); without: when they were read.
    std::chrono::steady_clock::time_point receivedBy() const { return rxFree_; }

    // Waits, at most `limit`, until the other side has read what was
    // written: until the bytes reached its input queue and it is empty again.
    void waitTaken(std::chrono::milliseconds limit);

    // Flow control: from now on the other side's writes wait (its output
    // stopped by XOFF), while it can still read.
    void holdPeerOutput();

    // Sends all bytes, paced when a rate is set. Bytes nobody reads for two
    // seconds are dropped, as on a real line.
    void write(const std::vector<std::uint8_t>& bytes, const std::atomic<bool>& stop);
    // The same for a reply: with pacing its first byte goes on the line as
    // the last byte read so far has come off it. One exact wait for each
    // byte, the request's line time included, instead of a wait for the
    // request and then one for the byte.
    void reply(const std::vector<std::uint8_t>& bytes, const std::atomic<bool>& stop);

    // Hangs up: the other side sees the line go away.
    void close();

private:
    using Clock = std::chrono::steady_clock;
    bool writeOne(const std::uint8_t* bytes, std::size_t count, const std::atomic<bool>& stop);

    int master_ = -1;
    int slaveHold_ = -1; // keeps the terminal alive while the tool has it closed
    std::string slavePath_;
    std::chrono::nanoseconds byteTime_{0};
    Clock::time_point rxFree_{};
    Clock::time_point txNext_{};
};

} // namespace mub::sim
