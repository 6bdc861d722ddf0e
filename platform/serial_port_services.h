// The operating system's serial-port services, as the serial channel needs
// them. Every call returns 0 on success or the system's error code (errno).
// The Linux implementation works on terminal devices; tests may wrap it to
// make single steps fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mub {

// Line parameters in the channel's terms.
struct SerialLineParams {
    std::int32_t baudRate = 9600;
    std::int32_t dataBits = 8;   // 5..8
    std::int32_t parity = 0;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
    bool parityCheck = false;    // received parity errors are detected
    std::int32_t stopBits = 0;   // 0 one, 2 two (see linux_serial_port.cpp for one and a half)
    bool ctsFlow = false;        // hardware handshake with RTS/CTS
    bool xonXoffOutput = false;  // output stops on XOFF
    bool xonXoffInput = false;   // XOFF/XON are sent as the input fills/empties
    std::uint8_t xonChar = 17;
    std::uint8_t xoffChar = 19;
};

// Running totals of line events kept by the driver.
struct SerialLineCounts {
    std::uint32_t cts = 0, dsr = 0, ring = 0, rlsd = 0;
    std::uint32_t frame = 0, overrun = 0, parity = 0, breaks = 0, bufferOverrun = 0;
};

// Modem-line bits used by modemLines and setModemLines.
enum SerialModemLine : int {
    ModemCts = 1,
    ModemDsr = 2,
    ModemRlsd = 4,
    ModemRing = 8,
    ModemDtr = 16,
    ModemRts = 32,
};

// What a wait for input reported.
struct SerialWaitResult {
    bool readable = false; // bytes are waiting
    bool hangup = false;   // the device reported hang-up or an error state
    bool woken = false;    // the wake-up handle was signalled
};

class SerialPortServices {
public:
    virtual ~SerialPortServices() = default;

    // Opens a terminal read-write, non-blocking, for this program alone.
    virtual int openExclusive(const std::string& path, int& handle) = 0;
    virtual void close(int handle) = 0;
    // Asks the driver to hand over received bytes without delay; drivers that
    // refuse are left as they are.
    virtual void requestLowLatency(int handle) = 0;

    virtual int getLine(int handle, SerialLineParams& params) = 0;
    virtual int setLine(int handle, const SerialLineParams& params) = 0;

    virtual int flush(int handle, bool output, bool input) = 0;
    virtual int setModemLines(int handle, int lines, bool on) = 0; // ModemDtr / ModemRts
    virtual int setBreak(int handle, bool on) = 0;
    virtual int sendFlowChar(int handle, bool xon) = 0;
    virtual int modemLines(int handle, int& lines) = 0;
    virtual int lineCounts(int handle, SerialLineCounts& counts) = 0;
    virtual int queueCounts(int handle, std::int32_t& input, std::int32_t& output) = 0;

    // Reads what is waiting, up to `capacity` bytes; `got` 0 when nothing was.
    virtual int read(int handle, std::uint8_t* buffer, std::size_t capacity, std::size_t& got) = 0;
    // Writes as much as the driver takes now; `put` may be less than `count`.
    virtual int write(int handle, const std::uint8_t* bytes, std::size_t count, std::size_t& put) = 0;
    // Waits up to `timeoutMs` until bytes wait at `handle` or `wakeHandle` is signalled.
    virtual int waitReadable(int handle, int wakeHandle, int timeoutMs, SerialWaitResult& result) = 0;
    // Waits up to `timeoutMs` until `handle` takes more output; `ready` false on time-out.
    virtual int waitWritable(int handle, int timeoutMs, bool& ready) = 0;

    // A handle that can wake waitReadable from another thread.
    virtual int createWakeHandle(int& wakeHandle) = 0;
    virtual void signalWake(int wakeHandle) = 0;
    virtual void closeWakeHandle(int wakeHandle) = 0;

    // Raises the calling thread one step above normal where the system
    // allows it; goes on silently where it does not.
    virtual void raiseThreadPriority() = 0;

    // The system's message for an error code, in GBK.
    virtual std::string errorMessage(int code) = 0;
};

// The services of this system (Linux terminals). Stateless, shared.
SerialPortServices& systemSerialPortServices();

} // namespace mub
