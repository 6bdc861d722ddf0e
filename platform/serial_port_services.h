// The operating system's serial-port services, as the serial channel needs
// them, in the shape of the Win32 serial calls: a port opened for overlapped
// transfers, an event mask and an event wait, reads and writes that may stay
// pending in the driver, the error-and-status call, purge, line control.
// Windows implements them with those calls; Linux over terminal devices
// (termios, poll), where a pending operation completes inside `finish`.
//
// Every call returns 0 on success or the system's error code (GetLastError,
// errno). A driver may misbehave in any of them; the channel bounds every
// wait, makes the blocking calls on a thread of the port's own with a bound
// (serial/driver_lane.h), so they may come from any thread, and never frees
// the memory of an operation the driver still holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mub {

// A port or a wake-up event of the services (a HANDLE on Windows, a file
// descriptor or a port record on Linux).
using SerialHandle = std::intptr_t;
inline constexpr SerialHandle noSerialHandle = -1;

// Line events an event wait can report (the Win32 EV_ bits).
enum SerialEvent : std::uint32_t {
    EventRxChar = 0x0001,  // a byte arrived
    EventFlagChar = 0x0002, // the event character arrived
    EventTxEmpty = 0x0004, // the output queue ran empty
    EventCts = 0x0008,
    EventDsr = 0x0010,
    EventRlsd = 0x0020,
    EventBreak = 0x0040,
    EventError = 0x0080, // framing, overrun or parity error
    EventRing = 0x0100,
    EventRx80Full = 0x0400,
};
inline constexpr std::uint32_t modemLineEvents = EventCts | EventDsr | EventRlsd | EventRing;

// Line parameters in the channel's terms (a DCB's fields).
struct SerialLineParams {
    std::int32_t baudRate = 9600;
    std::int32_t dataBits = 8;   // 5..8
    std::int32_t parity = 0;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
    bool parityCheck = false;    // received parity errors are detected
    std::int32_t stopBits = 0;   // 0 one, 1 one and a half, 2 two
    std::int32_t dtrControl = 0; // 0 off, 1 on, 2 handshake
    std::int32_t rtsControl = 0; // 0 off, 1 on, 2 handshake, 3 toggle
    bool ctsFlow = false;        // output waits for CTS
    bool dsrFlow = false;        // output waits for DSR
    bool dsrSensitivity = false; // input ignored while DSR is off
    bool xonXoffOutput = false;  // output stops on XOFF
    bool xonXoffInput = false;   // XOFF/XON are sent as the input fills/empties
    bool txContinueOnXoff = false;
    bool discardNull = false;
    bool abortOnError = false; // the driver fails every transfer after a line error until it is cleared
    std::int32_t xonLimit = 256;
    std::int32_t xoffLimit = 256;
    std::uint8_t xonChar = 17;
    std::uint8_t xoffChar = 19;
    std::int32_t eventChar = -1; // -1: the port keeps its own
};

// Line-error bits of the error-and-status call.
enum SerialErrorBit : std::int32_t {
    ErrorInputOverflow = 0x01, // the driver's input buffer overflowed
    ErrorOverrun = 0x02,       // the receiver lost a byte
    ErrorParity = 0x04,
    ErrorFraming = 0x08,
    ErrorBreak = 0x10,
};

// Hold and status bits of the error-and-status call.
enum SerialHoldBit : std::int32_t {
    HoldCts = 0x01, // output waits for CTS
    HoldDsr = 0x02,
    HoldRlsd = 0x04,
    HoldXoff = 0x08,
    HoldXoffSent = 0x10,
    HoldEof = 0x20,
    HoldImmediate = 0x40,
};

// What the error-and-status call reports; reading it clears the error
// state (and with it an abort after a line error).
struct SerialPortState {
    std::int32_t errorBits = 0; // SerialErrorBit
    std::int32_t holdBits = 0;  // SerialHoldBit
    std::int32_t inputQueued = 0;
    std::int32_t outputQueued = 0;
};

// Modem-line bits of modemLines.
enum SerialModemLine : int {
    ModemCts = 1,
    ModemDsr = 2,
    ModemRlsd = 4,
    ModemRing = 8,
};

// One overlapped operation (an event wait, a read or a write) with the
// memory the driver uses while it runs. The services make them; an
// operation that is pending must outlive the driver's use of it.
class SerialIo {
public:
    virtual ~SerialIo() = default;
    std::uint32_t events = 0;       // a completed wait: the events that occurred
    std::vector<std::uint8_t> bytes; // a read: room for the bytes; a write: the bytes to send
    std::size_t transferred = 0;    // a completed read or write: bytes done
};

// The answer of a start or a finish while the operation goes on.
inline constexpr int serialIoPending = -1;

// Codes of this system that the channel reports or tests for.
struct SerialSystemCodes {
    int aborted;     // a transfer ended by a cancel, a purge or a line error
    int noPort;      // reported with "未启动串口"
    int missingPort; // a COM number without a device
};

class SerialPortServices {
public:
    virtual ~SerialPortServices() = default;

    // Opens a port read-write, overlapped, for this program alone. May take
    // seconds (a Bluetooth port connecting): callers that must stay
    // responsive call it on a thread of their own.
    virtual int open(const std::string& path, SerialHandle& port) = 0;
    virtual void close(SerialHandle port) = 0;

    virtual int setEventMask(SerialHandle port, std::uint32_t events) = 0; // an empty mask ends a pending wait
    virtual int setQueueSizes(SerialHandle port, std::int32_t input, std::int32_t output) = 0;
    // Read interval, read per byte, read constant, write per byte, write constant (ms).
    virtual int setTimeouts(SerialHandle port, const std::uint32_t timeouts[5]) = 0;
    virtual int getLine(SerialHandle port, SerialLineParams& params) = 0;
    virtual int setLine(SerialHandle port, const SerialLineParams& params) = 0;
    virtual int readState(SerialHandle port, SerialPortState& state) = 0;
    // Discards the queues and ends transfers in progress (they complete aborted).
    virtual int purge(SerialHandle port, bool output, bool input) = 0;
    // 1 DTR off, 2 RTS off, 3 DTR on, 4 RTS on, 5 send XOFF, 6 send XON, 7 break on, 8 break off.
    virtual int lineControl(SerialHandle port, int code) = 0;
    virtual int modemLines(SerialHandle port, int& lines) = 0;

    // Overlapped operations. Each start answers 0 when the operation
    // completed at once (results in `io`), serialIoPending, or the error it
    // failed with; a read wants `io.bytes` at least `count` long.
    virtual std::unique_ptr<SerialIo> newIo() = 0;
    virtual int startWait(SerialHandle port, SerialIo& io) = 0;
    virtual int startRead(SerialHandle port, SerialIo& io, std::size_t count) = 0;
    virtual int startWrite(SerialHandle port, SerialIo& io) = 0;
    // Waits up to `timeoutMs` for a pending operation, or until `wake` is
    // signalled: 0 completed, serialIoPending still going on, or the error it
    // completed with.
    virtual int finish(SerialHandle port, SerialIo& io, int timeoutMs, SerialHandle wake) = 0;
    // Asks the driver to end a pending operation; it still has to complete.
    virtual void cancel(SerialHandle port, SerialIo& io) = 0;
    // True when the pending event wait or one-byte read `io` shows, without
    // a call that could block in the driver, that no byte has come since it
    // started: a purge then has nothing to discard. False where that cannot
    // be told, as by default.
    virtual bool inputQuiet(SerialHandle port, SerialIo& io) {
        (void)port;
        (void)io;
        return false;
    }

    // An event that cuts finish and sleep short once signalled (it stays so).
    virtual int createWake(SerialHandle& wake) = 0;
    virtual void signalWake(SerialHandle wake) = 0;
    virtual void closeWake(SerialHandle wake) = 0;
    // Pauses `ms`, less when `wake` is signalled.
    virtual void sleep(SerialHandle wake, int ms) = 0;

    // Raises the calling thread one step above normal where the system
    // allows it; goes on silently where it does not.
    virtual void raiseThreadPriority() = 0;
    // The system's message for an error code, in GBK.
    virtual std::string errorMessage(int code) = 0;
    virtual SerialSystemCodes codes() const = 0;
};

// The services of this system. Shared; safe to use from several threads.
SerialPortServices& systemSerialPortServices();

} // namespace mub
