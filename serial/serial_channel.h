// One serial port: opened by COM number, configured from SerialSettings,
// listened to by a thread of its own that reports to the owner's handlers.
#pragma once

#include "serial/port_table.h"
#include "serial/serial_settings.h"

#include <cstdint>
#include <functional>
#include <string>

namespace mub {

class SerialPortServices;

// Handlers given to open. onData runs on the listener thread after every
// read (the bytes are valid only during the call); onNotify and onStatus run
// there too; onError runs on the thread whose operation failed.
using SerialDataHandler = std::function<void(const std::uint8_t* bytes, std::int32_t count)>;
using SerialNotifyHandler = std::function<void(std::int32_t code)>;
using SerialStatusHandler =
    std::function<void(std::int32_t outputQueued, std::int32_t inputQueued, std::int32_t errorBits, std::int32_t holdBits)>;
using SerialErrorHandler = std::function<void(const std::string& gbkText)>;

class SerialChannel {
public:
    explicit SerialChannel(PortTable ports = PortTable());
    // With other serial services than the system's (tests make steps fail).
    SerialChannel(PortTable ports, SerialPortServices& services);
    ~SerialChannel(); // closes the port
    SerialChannel(const SerialChannel&) = delete;
    SerialChannel& operator=(const SerialChannel&) = delete;

    // Opens COM<port> (1..255) through the port table. Returns true when the
    // channel is listening; every refusal is reported through onError first.
    bool open(std::int32_t port, const SerialSettings& settings, SerialDataHandler onData,
              SerialNotifyHandler onNotify = {}, SerialStatusHandler onStatus = {}, SerialErrorHandler onError = {});
    bool configure(const SerialSettings& settings);
    void close(); // harmless when closed

    // Writes all bytes; true when more than 0 bytes were written.
    bool send(const std::uint8_t* bytes, std::int32_t count, std::int32_t* written = nullptr);
    bool purge(bool clearOutput, bool clearInput);
    std::int32_t lineState();
    bool lineControl(std::int32_t code);
    std::string settingsText(); // e.g. "COM3,57600,N,1,8"; GBK

    bool isOpen() const;
    std::string openPortName() const; // "COM<n>", empty when closed

    PortTable& ports();

private:
    struct Impl;
    Impl* impl_;
};

} // namespace mub
