// Terminal attributes go through termios2 (TCGETS2/TCSETS2) so that rates
// without a B-constant (7200, 14400, 56000, 128000, 256000) can be set; that
// header cannot share a file with <termios.h>, which is not used here.
#include "platform/linux_serial_port.h"

#include "platform/gbk_text.h"
#include "platform/prompt_wakeup.h"

#include <algorithm>
#include <asm/termbits.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace mub {
namespace {

using Clock = std::chrono::steady_clock;

struct RateCode {
    std::int32_t rate;
    unsigned int code;
};

// Rates the kernel knows by a B-constant; any other rate is set as BOTHER.
constexpr RateCode standardRates[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

// While an event wait watches what poll cannot (modem lines, line counters,
// the output queue running empty) it looks this often.
constexpr int watchSliceMs = 20;

int lastError() { return errno != 0 ? errno : EIO; }

int getAttributes(int fd, termios2& t) { return ioctl(fd, TCGETS2, &t) == 0 ? 0 : lastError(); }

void setModemBits(int fd, int bits, bool on) { ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits); }

void drain(int eventFd) {
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t n = ::read(eventFd, &count, sizeof count);
}

void signal(int eventFd) {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(eventFd, &one, sizeof one);
}

} // namespace

// One open terminal. The event wait reports what changed since the last
// wait completed; readState reports the line errors since its last call.
struct LinuxSerialPort::Port {
    int fd = -1;
    int attention = -1; // eventfd: a cancel or a new event mask reaches a wait in progress
    std::mutex lock;    // guards what follows
    std::uint32_t mask = 0;
    bool ctsFlow = false;
    std::uint32_t timeouts[5] = {0xFFFFFFFFu, 0, 0, 100, 1000};
    bool linesReadable = false;
    bool countsReadable = false;
    int waitLines = 0;
    SerialLineCounts waitCounts;
    SerialLineCounts stateCounts;
    bool outputPending = false; // bytes were written; "output empty" not yet reported
};

struct LinuxSerialPort::Io : SerialIo {
    enum class Kind { None, Wait, Write } kind = Kind::None;
    bool pending = false;
    std::atomic<bool> cancelled{false};
    Clock::time_point deadline; // a write: when its time-outs run out
};

namespace {

LinuxSerialPort::Port* portOf(SerialHandle handle) { return reinterpret_cast<LinuxSerialPort::Port*>(handle); }

// Bytes went out: the next event wait watches for the output queue to run
// empty (one in progress is not woken for it: a transfer sends every few
// milliseconds, and the notification is of no hurry).
void markOutputPending(LinuxSerialPort::Port& port) {
    std::lock_guard<std::mutex> guard(port.lock);
    port.outputPending = true;
}

} // namespace

int LinuxSerialPort::open(const std::string& path, SerialHandle& handle) {
    handle = noSerialHandle;
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return lastError();
    // The advisory lock keeps out other programs that lock too (and root,
    // which TIOCEXCL does not stop); TIOCEXCL keeps out every other open by
    // a user without privileges. A device that is no terminal fails here.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int e = lastError();
        ::close(fd);
        return e == EWOULDBLOCK ? EBUSY : e;
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
        int e = lastError();
        ::close(fd);
        return e;
    }
    int attention = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (attention < 0) {
        int e = lastError();
        ioctl(fd, TIOCNXCL);
        ::close(fd);
        return e;
    }
    // USB-serial adapters otherwise hold received bytes for up to 16 ms.
    // Pseudo-terminals and many drivers refuse; that is fine.
    serial_struct ss{};
    if (ioctl(fd, TIOCGSERIAL, &ss) == 0 && !(ss.flags & ASYNC_LOW_LATENCY)) {
        ss.flags |= ASYNC_LOW_LATENCY;
        ioctl(fd, TIOCSSERIAL, &ss);
    }
    auto* port = new Port;
    port->fd = fd;
    port->attention = attention;
    port->linesReadable = driverModemLines(fd, port->waitLines) == 0;
    port->countsReadable = driverLineCounts(fd, port->waitCounts) == 0;
    port->stateCounts = port->waitCounts;
    handle = reinterpret_cast<SerialHandle>(port);
    return 0;
}

void LinuxSerialPort::close(SerialHandle handle) {
    Port* port = portOf(handle);
    if (!port) return;
    // Without this a later open by a normal user fails for as long as any
    // other handle to this tty stays open.
    ioctl(port->fd, TIOCNXCL);
    ::close(port->fd);
    ::close(port->attention);
    delete port;
}

int LinuxSerialPort::setEventMask(SerialHandle handle, std::uint32_t events) {
    Port& port = *portOf(handle);
    {
        std::lock_guard<std::mutex> guard(port.lock);
        port.mask = events;
        // Events count from here, as a driver counts them from its mask.
        if (port.linesReadable) driverModemLines(port.fd, port.waitLines);
        if (port.countsReadable) driverLineCounts(port.fd, port.waitCounts);
    }
    signal(port.attention);
    return 0;
}

// Linux sizes the queues itself.
int LinuxSerialPort::setQueueSizes(SerialHandle, std::int32_t, std::int32_t) { return 0; }

int LinuxSerialPort::setTimeouts(SerialHandle handle, const std::uint32_t timeouts[5]) {
    Port& port = *portOf(handle);
    std::lock_guard<std::mutex> guard(port.lock);
    std::copy(timeouts, timeouts + 5, port.timeouts);
    return 0;
}

int LinuxSerialPort::getLine(SerialHandle handle, SerialLineParams& params) {
    termios2 t{};
    if (int e = getAttributes(portOf(handle)->fd, t)) return e;
    unsigned int code = t.c_cflag & CBAUD;
    params.baudRate = static_cast<std::int32_t>(t.c_ospeed);
    if (code != BOTHER) {
        for (const auto& r : standardRates)
            if (r.code == code) params.baudRate = r.rate;
    }
    switch (t.c_cflag & CSIZE) {
    case CS5: params.dataBits = 5; break;
    case CS6: params.dataBits = 6; break;
    case CS7: params.dataBits = 7; break;
    default: params.dataBits = 8; break;
    }
    if (!(t.c_cflag & PARENB))
        params.parity = 0;
    else if (t.c_cflag & CMSPAR)
        params.parity = (t.c_cflag & PARODD) ? 3 : 4;
    else
        params.parity = (t.c_cflag & PARODD) ? 1 : 2;
    params.parityCheck = (t.c_iflag & INPCK) != 0;
    params.stopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
    params.ctsFlow = (t.c_cflag & CRTSCTS) != 0;
    params.xonXoffOutput = (t.c_iflag & IXON) != 0;
    params.xonXoffInput = (t.c_iflag & IXOFF) != 0;
    params.xonChar = t.c_cc[VSTART];
    params.xoffChar = t.c_cc[VSTOP];
    return 0;
}

// DSR flow and sensitivity, going on after XOFF, the XON/XOFF fill levels,
// discarding zero bytes, the event character and abort-on-error have no
// terminal form: the channel does what of them it needs itself.
int LinuxSerialPort::setLine(SerialHandle handle, const SerialLineParams& params) {
    Port& port = *portOf(handle);
    termios2 t{};
    if (int e = getAttributes(port.fd, t)) return e;

    // Raw mode: no line editing, echo, signals, character translation or
    // end-of-file processing.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                        IXANY | INPCK | IGNPAR | IUCLC | IMAXBEL);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD |
                                        (CBAUD << IBSHIFT));
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    unsigned int code = BOTHER;
    for (const auto& r : standardRates)
        if (r.rate == params.baudRate) code = r.code;
    t.c_cflag |= code; // input speed bits stay 0: the same as the output speed
    t.c_ospeed = static_cast<speed_t>(params.baudRate);
    t.c_ispeed = static_cast<speed_t>(params.baudRate);

    switch (params.dataBits) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    default: t.c_cflag |= CS8; break;
    }
    switch (params.parity) {
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (params.parityCheck) t.c_iflag |= INPCK;
    // Linux has one and two stop bits only: one and a half gives two (a
    // receiver that expects one and a half accepts two).
    if (params.stopBits != 0) t.c_cflag |= CSTOPB;
    // RTS handshake is the kernel's hardware flow control.
    const bool ctsFlow = params.ctsFlow || params.rtsControl == 2;
    if (ctsFlow) t.c_cflag |= CRTSCTS;
    if (params.xonXoffOutput) t.c_iflag |= IXON;
    if (params.xonXoffInput) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = params.xonChar;
    t.c_cc[VSTOP] = params.xoffChar;

    if (ioctl(port.fd, TCSETS2, &t) != 0) return lastError();
    {
        std::lock_guard<std::mutex> guard(port.lock);
        port.ctsFlow = ctsFlow;
    }
    // DTR and RTS follow their control settings. Drivers without modem
    // lines refuse; nothing to do then.
    setModemBits(port.fd, TIOCM_DTR, params.dtrControl != 0);
    if (params.rtsControl != 2) setModemBits(port.fd, TIOCM_RTS, params.rtsControl != 0);
    return 0;
}

int LinuxSerialPort::readState(SerialHandle handle, SerialPortState& state) {
    Port& port = *portOf(handle);
    state = {};
    int in = 0, out = 0;
    if (ioctl(port.fd, FIONREAD, &in) != 0) return lastError();
    if (ioctl(port.fd, TIOCOUTQ, &out) != 0) return lastError();
    state.inputQueued = in;
    state.outputQueued = out;
    std::lock_guard<std::mutex> guard(port.lock);
    SerialLineCounts now;
    if (port.countsReadable && driverLineCounts(port.fd, now) == 0) {
        const SerialLineCounts& was = port.stateCounts;
        if (now.bufferOverrun != was.bufferOverrun) state.errorBits |= ErrorInputOverflow;
        if (now.overrun != was.overrun) state.errorBits |= ErrorOverrun;
        if (now.parity != was.parity) state.errorBits |= ErrorParity;
        if (now.frame != was.frame) state.errorBits |= ErrorFraming;
        if (now.breaks != was.breaks) state.errorBits |= ErrorBreak;
        port.stateCounts = now;
    }
    int lines = 0;
    if (port.ctsFlow && out > 0 && port.linesReadable && driverModemLines(port.fd, lines) == 0 && !(lines & ModemCts))
        state.holdBits |= HoldCts;
    return 0;
}

int LinuxSerialPort::purge(SerialHandle handle, bool output, bool input) {
    if (!output && !input) return 0;
    int which = output && input ? TCIOFLUSH : output ? TCOFLUSH : TCIFLUSH;
    return ioctl(portOf(handle)->fd, TCFLSH, which) == 0 ? 0 : lastError();
}

int LinuxSerialPort::lineControl(SerialHandle handle, int code) {
    const int fd = portOf(handle)->fd;
    int dtr = TIOCM_DTR, rts = TIOCM_RTS;
    int result = -1;
    switch (code) {
    case 1: result = ioctl(fd, TIOCMBIC, &dtr); break;
    case 2: result = ioctl(fd, TIOCMBIC, &rts); break;
    case 3: result = ioctl(fd, TIOCMBIS, &dtr); break;
    case 4: result = ioctl(fd, TIOCMBIS, &rts); break;
    case 5: result = ioctl(fd, TCXONC, TCIOFF); break;
    case 6: result = ioctl(fd, TCXONC, TCION); break;
    case 7: result = ioctl(fd, TIOCSBRK); break;
    case 8: result = ioctl(fd, TIOCCBRK); break;
    default: return EINVAL;
    }
    return result == 0 ? 0 : lastError();
}

int LinuxSerialPort::modemLines(SerialHandle handle, int& lines) { return driverModemLines(portOf(handle)->fd, lines); }

int LinuxSerialPort::driverModemLines(int fd, int& lines) {
    int bits = 0;
    lines = 0;
    if (ioctl(fd, TIOCMGET, &bits) != 0) return lastError();
    if (bits & TIOCM_CTS) lines |= ModemCts;
    if (bits & TIOCM_DSR) lines |= ModemDsr;
    if (bits & TIOCM_CAR) lines |= ModemRlsd;
    if (bits & TIOCM_RNG) lines |= ModemRing;
    return 0;
}

int LinuxSerialPort::driverLineCounts(int fd, SerialLineCounts& counts) {
    serial_icounter_struct ic{};
    if (ioctl(fd, TIOCGICOUNT, &ic) != 0) return lastError();
    auto u = [](int v) { return static_cast<std::uint32_t>(v); };
    counts.cts = u(ic.cts);
    counts.dsr = u(ic.dsr);
    counts.ring = u(ic.rng);
    counts.rlsd = u(ic.dcd);
    counts.frame = u(ic.frame);
    counts.overrun = u(ic.overrun);
    counts.parity = u(ic.parity);
    counts.breaks = u(ic.brk);
    counts.bufferOverrun = u(ic.buf_overrun);
    return 0;
}

std::unique_ptr<SerialIo> LinuxSerialPort::newIo() { return std::make_unique<Io>(); }

int LinuxSerialPort::startWait(SerialHandle handle, SerialIo& base) {
    Port& port = *portOf(handle);
    Io& io = static_cast<Io&>(base);
    {
        std::lock_guard<std::mutex> guard(port.lock);
        if (port.mask == 0) return EINVAL;
    }
    io.events = 0;
    io.kind = Io::Kind::Wait;
    io.cancelled = false;
    // Always pending: what happened since the last wait completes it at the
    // first look, inside finish.
    io.pending = true;
    return serialIoPending;
}

// Reads what is waiting, up to `count` bytes; never waits for more.
int LinuxSerialPort::startRead(SerialHandle handle, SerialIo& io, std::size_t count) {
    io.transferred = 0;
    if (count > io.bytes.size()) count = io.bytes.size();
    ssize_t n = ::read(portOf(handle)->fd, io.bytes.data(), count);
    if (n >= 0) {
        io.transferred = static_cast<std::size_t>(n);
        return 0;
    }
    return errno == EAGAIN || errno == EINTR ? 0 : lastError();
}

// Writes what the terminal takes now; the rest is written inside finish,
// until the write time-outs run out.
int LinuxSerialPort::startWrite(SerialHandle handle, SerialIo& base) {
    Port& port = *portOf(handle);
    Io& io = static_cast<Io&>(base);
    io.transferred = 0;
    io.kind = Io::Kind::Write;
    io.cancelled = false;
    io.pending = false;
    ssize_t n = ::write(port.fd, io.bytes.data(), io.bytes.size());
    if (n < 0 && errno != EAGAIN && errno != EINTR) return lastError();
    if (n > 0) io.transferred = static_cast<std::size_t>(n);
    if (io.transferred > 0) markOutputPending(port);
    if (io.transferred == io.bytes.size()) return 0;
    std::uint32_t perByte = 0, constant = 0;
    {
        std::lock_guard<std::mutex> guard(port.lock);
        perByte = port.timeouts[3];
        constant = port.timeouts[4];
    }
    io.deadline = Clock::now() + std::chrono::milliseconds(std::uint64_t{perByte} * io.bytes.size() + constant);
    io.pending = true;
    return serialIoPending;
}

int LinuxSerialPort::finish(SerialHandle handle, SerialIo& base, int timeoutMs, SerialHandle wake) {
    Io& io = static_cast<Io&>(base);
    if (!io.pending) return 0;
    Port& port = *portOf(handle);
    return io.kind == Io::Kind::Write ? finishWrite(port, io, timeoutMs, wake) : finishWait(port, io, timeoutMs, wake);
}

std::uint32_t LinuxSerialPort::eventsSinceLastWait(Port& port, bool bytesArrived) {
    std::lock_guard<std::mutex> guard(port.lock);
    std::uint32_t events = 0;
    if (bytesArrived) events |= EventRxChar;
    SerialLineCounts now;
    if (port.countsReadable && driverLineCounts(port.fd, now) == 0) {
        const SerialLineCounts& was = port.waitCounts;
        if (now.frame != was.frame || now.overrun != was.overrun || now.parity != was.parity ||
            now.bufferOverrun != was.bufferOverrun)
            events |= EventError;
        if (now.breaks != was.breaks) events |= EventBreak;
        if (now.cts != was.cts) events |= EventCts;
        if (now.dsr != was.dsr) events |= EventDsr;
        if (now.rlsd != was.rlsd) events |= EventRlsd;
        if (now.ring != was.ring) events |= EventRing;
    }
    int lines = 0;
    if (port.linesReadable && driverModemLines(port.fd, lines) == 0) {
        const int changed = lines ^ port.waitLines;
        if (changed & ModemCts) events |= EventCts;
        if (changed & ModemDsr) events |= EventDsr;
        if (changed & ModemRlsd) events |= EventRlsd;
        if ((changed & ModemRing) && (lines & ModemRing)) events |= EventRing;
    }
    if (port.outputPending && (port.mask & EventTxEmpty)) {
        int out = 0;
        if (ioctl(port.fd, TIOCOUTQ, &out) == 0 && out == 0) events |= EventTxEmpty;
    }
    events &= port.mask;
    if (events != 0) {
        // The next wait reports what changes from here.
        if (port.countsReadable) port.waitCounts = now;
        if (port.linesReadable) port.waitLines = lines;
        if (events & EventTxEmpty) port.outputPending = false;
    }
    return events;
}

int LinuxSerialPort::finishWait(Port& port, Io& io, int timeoutMs, SerialHandle wake) {
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    bool bytesArrived = false;
    for (;;) {
        if (io.cancelled.load()) {
            io.pending = false;
            return ECANCELED;
        }
        bool watching = false;
        bool watchInput = false;
        {
            std::lock_guard<std::mutex> guard(port.lock);
            if (port.mask == 0) { // an emptied mask ends the wait, without events
                io.pending = false;
                return 0;
            }
            // Only what the mask asks for is watched: a port whose owner
            // listens for bytes alone sleeps until they come.
            watching = (port.linesReadable && (port.mask & modemLineEvents)) ||
                       (port.countsReadable && (port.mask & (modemLineEvents | EventError | EventBreak))) ||
                       (port.outputPending && (port.mask & EventTxEmpty));
            watchInput = (port.mask & EventRxChar) != 0;
        }
        if (const std::uint32_t events = eventsSinceLastWait(port, bytesArrived)) {
            io.events = events;
            io.pending = false;
            return 0;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) return serialIoPending;
        pollfd fds[3] = {{port.fd, static_cast<short>(watchInput ? POLLIN : 0), 0},
                         {port.attention, POLLIN, 0},
                         {static_cast<int>(wake), POLLIN, 0}};
        const int slice = watching && left > watchSliceMs ? watchSliceMs : static_cast<int>(left);
        if (::poll(fds, wake == noSerialHandle ? 2 : 3, slice) < 0 && errno != EINTR) {
            io.pending = false;
            return lastError();
        }
        // A device that hung up (unplugged, or the other end of a
        // pseudo-terminal closed) fails the wait: it would end every poll at once.
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            io.pending = false;
            return EIO;
        }
        bytesArrived = (fds[0].revents & POLLIN) != 0;
        if (fds[1].revents & POLLIN) drain(port.attention);
        if (wake != noSerialHandle && (fds[2].revents & POLLIN)) return serialIoPending;
    }
}

int LinuxSerialPort::finishWrite(Port& port, Io& io, int timeoutMs, SerialHandle wake) {
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        if (io.cancelled.load()) {
            io.pending = false;
            return ECANCELED;
        }
        const std::size_t left = io.bytes.size() - io.transferred;
        ssize_t n = ::write(port.fd, io.bytes.data() + io.transferred, left);
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            io.pending = false;
            return lastError();
        }
        if (n > 0) {
            io.transferred += static_cast<std::size_t>(n);
            markOutputPending(port);
        }
        const auto now = Clock::now();
        // Done, or the write time-outs ran out: it completes with what went out.
        if (io.transferred == io.bytes.size() || now >= io.deadline) {
            io.pending = false;
            return 0;
        }
        if (now >= until) return serialIoPending;
        const auto end = std::min(until, io.deadline);
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count() + 1;
        pollfd fds[3] = {{port.fd, POLLOUT, 0}, {port.attention, POLLIN, 0}, {static_cast<int>(wake), POLLIN, 0}};
        if (::poll(fds, wake == noSerialHandle ? 2 : 3, static_cast<int>(wait)) < 0 && errno != EINTR) {
            io.pending = false;
            return lastError();
        }
        if (fds[0].revents & (POLLERR | POLLNVAL)) {
            io.pending = false;
            return EIO;
        }
        if (fds[1].revents & POLLIN) drain(port.attention);
        if (wake != noSerialHandle && (fds[2].revents & POLLIN)) return serialIoPending;
    }
}

void LinuxSerialPort::cancel(SerialHandle handle, SerialIo& base) {
    static_cast<Io&>(base).cancelled = true;
    signal(portOf(handle)->attention);
}

// A terminal's input queue is looked at directly: nothing readable, no
// hang-up, no error.
bool LinuxSerialPort::inputQuiet(SerialHandle handle, SerialIo&) {
    pollfd fd{portOf(handle)->fd, POLLIN, 0};
    return ::poll(&fd, 1, 0) == 0;
}

int LinuxSerialPort::createWake(SerialHandle& wake) {
    int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    wake = fd >= 0 ? fd : noSerialHandle;
    return fd >= 0 ? 0 : lastError();
}

// The count is never read back: once signalled, the wake-up stays so.
void LinuxSerialPort::signalWake(SerialHandle wake) { signal(static_cast<int>(wake)); }

void LinuxSerialPort::closeWake(SerialHandle wake) {
    if (wake != noSerialHandle) ::close(static_cast<int>(wake));
}

void LinuxSerialPort::sleep(SerialHandle wake, int ms) {
    pollfd fd{static_cast<int>(wake), POLLIN, 0};
    ::poll(&fd, wake == noSerialHandle ? 0 : 1, ms);
}

void LinuxSerialPort::raiseThreadPriority() {
    askForPromptWakeups();
    // One nice step up; needs privileges, so a refusal is expected and ignored.
    auto tid = static_cast<id_t>(gettid());
    errno = 0;
    int current = getpriority(PRIO_PROCESS, tid);
    if (current == -1 && errno != 0) return;
    setpriority(PRIO_PROCESS, tid, current - 1);
}

std::string LinuxSerialPort::errorMessage(int code) {
    char buffer[256];
    // GNU strerror_r: thread-safe, returns the text (not always in buffer).
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return gbk(text);
}

SerialSystemCodes LinuxSerialPort::codes() const { return {ECANCELED, EBADF, ENOENT}; }

SerialPortServices& systemSerialPortServices() {
    static LinuxSerialPort services;
    return services;
}

} // namespace mub
