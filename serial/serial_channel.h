// One serial port: opened by COM number, configured from SerialSettings,
// listened to by a thread of its own that reports to the owner's handlers.
// The blocking calls into its driver are made by the listener (watched) or
// on another thread of the port's own: a driver that does not return one
// within driverCallBoundMs (a second, serial/driver_lane.h) gives the port up. The owner is told through onError
// ("串口驱动无响应：…"), the channel closes at its next operation, and
// nothing more goes to that driver; other channels are not touched.
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
// there too (codes in serial/serial_codes.h); onError runs on the thread whose
// operation failed. No handler runs once close has returned. A handler may
// call the channel, close included, but must not destroy it.
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
    // Stops the listener and closes the port, within half a second whatever
    // the listener's driver does (a second and a half when a call of the
    // close itself hangs: the port is then given up and closed if the driver
    // ever lets go): a listener a driver holds up longer is left to end on
    // its own (no handler runs once close has returned) and releases the
    // port then. Harmless when closed.
    void close();

    // Writes all bytes and waits for the write to complete, up to the write
    // time-outs (per byte * count + constant ms) and at most the bytes' time
    // on the line plus half a second; true when more than 0 bytes were written. A
    // write cut short is reported through onError. A write the driver
    // aborted after a line error goes on once the error is cleared.
    bool send(const std::uint8_t* bytes, std::int32_t count, std::int32_t* written = nullptr);
    // Discards the queues. After purge returns, no byte that was waiting
    // before it reaches onData: bytes already read are dropped, and an onData
    // call in progress is waited for (at most 100 ms, so an owner that purges
    // while holding a lock its onData waits for is delayed, not deadlocked).
    bool purge(bool clearOutput, bool clearInput);
    // 0 not open or modem lines unreadable, 1 CTS off, 2 CTS on.
    std::int32_t lineState();
    // 1 DTR off, 2 RTS off, 3 DTR on, 4 RTS on, 5 send XOFF, 6 send XON,
    // 7 break on, 8 break off. False for other codes or when refused.
    bool lineControl(std::int32_t code);
    std::string settingsText(); // e.g. "COM3,57600,N,1,8"; GBK

    bool isOpen() const;
    std::string openPortName() const; // "COM<n>", empty when closed
    // Line errors (framing, overrun, parity, break) cleared so far, on every
    // port this channel opened.
    std::uint32_t lineErrors() const;

    PortTable& ports();

private:
    struct Impl;
    Impl* impl_;
};

// Transfers the serial channels gave up on because their drivers never
// completed them (their memory stays with the driver), since the start.
std::size_t abandonedSerialOperations();

} // namespace mub
