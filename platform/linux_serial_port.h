// Serial-port services over Linux terminal devices (ttyUSB, ttyACM, ttyS,
// pseudo-terminals). Transfers that cannot complete at once stay pending and
// complete inside `finish`; the event wait is played with poll and the
// driver's line counters. Public so tests can derive from it and give a
// pseudo-terminal the modem lines and line counters of a UART.
#pragma once

#include "platform/serial_port_services.h"

namespace mub {

// Running totals of line events kept by the driver (TIOCGICOUNT).
struct SerialLineCounts {
    std::uint32_t cts = 0, dsr = 0, ring = 0, rlsd = 0;
    std::uint32_t frame = 0, overrun = 0, parity = 0, breaks = 0, bufferOverrun = 0;
};

class LinuxSerialPort : public SerialPortServices {
public:
    int open(const std::string& path, SerialHandle& port) override;
    void close(SerialHandle port) override;

    int setEventMask(SerialHandle port, std::uint32_t events) override;
    int setQueueSizes(SerialHandle port, std::int32_t input, std::int32_t output) override;
    int setTimeouts(SerialHandle port, const std::uint32_t timeouts[5]) override;
    int getLine(SerialHandle port, SerialLineParams& params) override;
    int setLine(SerialHandle port, const SerialLineParams& params) override;
    int readState(SerialHandle port, SerialPortState& state) override;
    int purge(SerialHandle port, bool output, bool input) override;
    int lineControl(SerialHandle port, int code) override;
    int modemLines(SerialHandle port, int& lines) override;

    std::unique_ptr<SerialIo> newIo() override;
    int startWait(SerialHandle port, SerialIo& io) override;
    int startRead(SerialHandle port, SerialIo& io, std::size_t count) override;
    int startWrite(SerialHandle port, SerialIo& io) override;
    int finish(SerialHandle port, SerialIo& io, int timeoutMs, SerialHandle wake) override;
    void cancel(SerialHandle port, SerialIo& io) override;
    bool inputQuiet(SerialHandle port, SerialIo& io) override;

    int createWake(SerialHandle& wake) override;
    void signalWake(SerialHandle wake) override;
    void closeWake(SerialHandle wake) override;
    void sleep(SerialHandle wake, int ms) override;

    void raiseThreadPriority() override;
    std::string errorMessage(int code) override;
    SerialSystemCodes codes() const override;

protected:
    // The driver's modem lines (SerialModemLine bits) and line counters of
    // the terminal `fd`; pseudo-terminals have neither and fail.
    virtual int driverModemLines(int fd, int& lines);
    virtual int driverLineCounts(int fd, SerialLineCounts& counts);

public:
    // The records behind a port handle and an operation (internal).
    struct Port;
    struct Io;

private:
    int finishWait(Port& port, Io& io, int timeoutMs, SerialHandle wake);
    int finishWrite(Port& port, Io& io, int timeoutMs, SerialHandle wake);
    // The events of the mask that occurred since the last wait completed.
    std::uint32_t eventsSinceLastWait(Port& port, bool bytesArrived);
};

} // namespace mub
