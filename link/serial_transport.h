// A COM port through the serial channel as a transport. The channel's
// listener collects the machine's bytes in a receive buffer that reads watch
// every millisecond; its status and error handlers set the link status.
//
// Opening a port may block for seconds (a Bluetooth port trying to
// connect): it runs on a thread of its own while the window handles its
// events, and Stop gives it up. An open given up goes on by itself and
// closes what it opened; until it has ended the channel is not touched
// again (writes fail, reads find nothing, the next open waits for it).
#pragma once

#include "link/transport.h"
#include "platform/serial_port_list.h"
#include "platform/serial_port_services.h"
#include "platform/waits.h"
#include "serial/serial_channel.h"
#include "serial/serial_settings.h"

#include <functional>
#include <memory>
#include <vector>

namespace mub {

class SerialTransport : public Transport {
public:
    SerialTransport(Waits& waits, PortTable ports, SerialPortServices& services = systemSerialPortServices());
    // Closes the port; an open still under way is left to end by itself.
    ~SerialTransport() override;
    SerialTransport(const SerialTransport&) = delete;
    SerialTransport& operator=(const SerialTransport&) = delete;

    // The item's rate (link/baud_rates.h) goes into the settings record.
    void useBaudRate(int baudIndex) override;
    std::uint32_t open(std::int32_t port, const std::atomic<bool>& running) override;
    // Discards both queues and the receive buffer.
    void clear() override;
    // Empties the receive buffer, purges the port, sends; the link status
    // (which the handlers may have set) when the send went out.
    std::uint32_t write(const Bytes& data) override;
    Bytes read(std::int32_t count, bool raw, const std::atomic<bool>& running) override;
    // The pause is the first wait's floor. The link's waits are this
    // transport's own.
    Bytes readAfterPause(Waits& waits, std::int32_t pauseMicroseconds, std::int32_t count, bool raw,
                         const std::atomic<bool>& running) override;
    void close() override;
    std::uint32_t status() const override;
    void setStatus(std::uint32_t status) override;
    std::string fault() const override;
    std::unique_ptr<MachineSearch> newSearch(SearchHost& host) override;

    // The record handed to the channel at every open; useBaudRate sets its rate.
    SerialSettings settings;
    // The ports the system lists, asked at the start of every search.
    std::function<std::vector<ListedSerialPort>()> listPorts = listedSerialPorts;

    std::string devicePath(int port) const { return channel_->ports().devicePath(port); }
    SerialChannel& channel() { return *channel_; }

    // The channel's handlers (public for tests that play the listener).
    void onSerialData(const std::uint8_t* bytes, std::int32_t count);
    void onSerialStatus(std::int32_t outputQueued, std::int32_t inputQueued, std::int32_t errorBits, std::int32_t holdBits);
    void onSerialError(const std::string& text);

private:
    struct Inbox;
    struct OpenAttempt;
    // Waits for an open under way, handling the window's events after the
    // first moments; false when Stop came first.
    bool waitForOpen(OpenAttempt& attempt, const std::atomic<bool>& running);
    // True while an open given up still runs: the channel is not to be touched.
    bool openUnderWay();
    Bytes readPausedFirst(std::int32_t pauseMicroseconds, std::int32_t count, bool raw, const std::atomic<bool>& running);

    Waits& waits_;
    std::shared_ptr<SerialChannel> channel_;
    std::shared_ptr<Inbox> inbox_;
    std::shared_ptr<OpenAttempt> opening_;
    // The tick at which the last request has left the line.
    std::uint32_t requestSentTick_ = 0;
    bool requestOnLine_ = false;
};

} // namespace mub
