// A COM port through the serial channel as a transport. The channel's
// listener collects the machine's bytes in a receive buffer that reads watch
// every millisecond; its status and error handlers set the link status.
#pragma once

#include "link/transport.h"
#include "platform/serial_port_services.h"
#include "platform/ui.h"
#include "serial/serial_channel.h"
#include "serial/serial_settings.h"

#include <memory>

namespace mub {

class SerialTransport : public Transport {
public:
    SerialTransport(Ui& ui, PortTable ports, SerialPortServices& services = systemSerialPortServices());
    ~SerialTransport() override; // closes the port
    SerialTransport(const SerialTransport&) = delete;
    SerialTransport& operator=(const SerialTransport&) = delete;

    // The item's text, read as a number and truncated, is the baud rate.
    void useBaudRate(const std::string& itemText, int itemIndex) override;
    std::uint32_t open(std::int32_t port, const std::atomic<bool>& running) override;
    // Discards both queues and the receive buffer.
    void clear() override;
    // Empties the receive buffer, purges the port, sends; the link status
    // (which the handlers may have set) when the send went out.
    std::uint32_t write(const Bytes& data) override;
    Bytes read(std::int32_t count, bool raw, const std::atomic<bool>& running) override;
    void close() override;
    std::uint32_t status() const override;
    void setStatus(std::uint32_t status) override;
    std::unique_ptr<MachineSearch> newSearch(SearchHost& host) override;

    // The record handed to the channel at every open; useBaudRate sets its rate.
    SerialSettings settings;

    std::string devicePath(int port) const { return channel_->ports().devicePath(port); }
    SerialChannel& channel() { return *channel_; }

    // The channel's handlers (public for tests that play the listener).
    void onSerialData(const std::uint8_t* bytes, std::int32_t count);
    void onSerialStatus(std::int32_t outputQueued, std::int32_t inputQueued, std::int32_t errorBits, std::int32_t holdBits);
    void onSerialError(const std::string& text);

private:
    struct Inbox;

    Ui& ui_;
    std::shared_ptr<SerialChannel> channel_;
    std::shared_ptr<Inbox> inbox_;
};

} // namespace mub
