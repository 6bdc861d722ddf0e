// Terminal attributes go through termios2 (TCGETS2/TCSETS2) so that rates
// without a B-constant (7200, 14400, 56000, 128000, 256000) can be set; that
// header cannot share a file with <termios.h>, which is not used here.
#include "platform/linux_serial_port.h"

#include "platform/gbk_text.h"

#include <asm/termbits.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace mub {
namespace {

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

int lastError() { return errno != 0 ? errno : EIO; }

int getAttributes(int handle, termios2& t) { return ioctl(handle, TCGETS2, &t) == 0 ? 0 : lastError(); }

} // namespace

int LinuxSerialPort::openExclusive(const std::string& path, int& handle) {
    handle = -1;
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
    handle = fd;
    return 0;
}

void LinuxSerialPort::close(int handle) {
    if (handle < 0) return;
    // Without this a later open by a normal user fails for as long as any
    // other handle to this tty stays open.
    ioctl(handle, TIOCNXCL);
    ::close(handle);
}

void LinuxSerialPort::requestLowLatency(int handle) {
    // USB-serial adapters otherwise hold received bytes for up to 16 ms.
    // Pseudo-terminals and many drivers refuse; that is fine.
    serial_struct ss{};
    if (ioctl(handle, TIOCGSERIAL, &ss) != 0) return;
    if (ss.flags & ASYNC_LOW_LATENCY) return;
    ss.flags |= ASYNC_LOW_LATENCY;
    ioctl(handle, TIOCSSERIAL, &ss);
}

int LinuxSerialPort::getLine(int handle, SerialLineParams& params) {
    termios2 t{};
    if (int e = getAttributes(handle, t)) return e;
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

int LinuxSerialPort::setLine(int handle, const SerialLineParams& params) {
    termios2 t{};
    if (int e = getAttributes(handle, t)) return e;

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
    // Linux has one and two stop bits only; the channel passes 2 for one and
    // a half as well.
    if (params.stopBits != 0) t.c_cflag |= CSTOPB;
    if (params.ctsFlow) t.c_cflag |= CRTSCTS;
    if (params.xonXoffOutput) t.c_iflag |= IXON;
    if (params.xonXoffInput) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = params.xonChar;
    t.c_cc[VSTOP] = params.xoffChar;

    return ioctl(handle, TCSETS2, &t) == 0 ? 0 : lastError();
}

int LinuxSerialPort::flush(int handle, bool output, bool input) {
    int which = output && input ? TCIOFLUSH : output ? TCOFLUSH : TCIFLUSH;
    return ioctl(handle, TCFLSH, which) == 0 ? 0 : lastError();
}

int LinuxSerialPort::setModemLines(int handle, int lines, bool on) {
    int bits = 0;
    if (lines & ModemDtr) bits |= TIOCM_DTR;
    if (lines & ModemRts) bits |= TIOCM_RTS;
    return ioctl(handle, on ? TIOCMBIS : TIOCMBIC, &bits) == 0 ? 0 : lastError();
}

int LinuxSerialPort::setBreak(int handle, bool on) {
    return ioctl(handle, on ? TIOCSBRK : TIOCCBRK) == 0 ? 0 : lastError();
}

int LinuxSerialPort::sendFlowChar(int handle, bool xon) {
    return ioctl(handle, TCXONC, xon ? TCION : TCIOFF) == 0 ? 0 : lastError();
}

int LinuxSerialPort::modemLines(int handle, int& lines) {
    int bits = 0;
    lines = 0;
    if (ioctl(handle, TIOCMGET, &bits) != 0) return lastError();
    if (bits & TIOCM_CTS) lines |= ModemCts;
    if (bits & TIOCM_DSR) lines |= ModemDsr;
    if (bits & TIOCM_CAR) lines |= ModemRlsd;
    if (bits & TIOCM_RNG) lines |= ModemRing;
    if (bits & TIOCM_DTR) lines |= ModemDtr;
    if (bits & TIOCM_RTS) lines |= ModemRts;
    return 0;
}

int LinuxSerialPort::lineCounts(int handle, SerialLineCounts& counts) {
    serial_icounter_struct ic{};
    if (ioctl(handle, TIOCGICOUNT, &ic) != 0) return lastError();
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

int LinuxSerialPort::queueCounts(int handle, std::int32_t& input, std::int32_t& output) {
    int in = 0, out = 0;
    input = output = 0;
    if (ioctl(handle, FIONREAD, &in) != 0) return lastError();
    if (ioctl(handle, TIOCOUTQ, &out) != 0) return lastError();
    input = in;
    output = out;
    return 0;
}

int LinuxSerialPort::read(int handle, std::uint8_t* buffer, std::size_t capacity, std::size_t& got) {
    got = 0;
    ssize_t n = ::read(handle, buffer, capacity);
    if (n >= 0) {
        got = static_cast<std::size_t>(n);
        return 0;
    }
    return errno == EAGAIN || errno == EINTR ? 0 : lastError();
}

int LinuxSerialPort::write(int handle, const std::uint8_t* bytes, std::size_t count, std::size_t& put) {
    put = 0;
    ssize_t n = ::write(handle, bytes, count);
    if (n >= 0) {
        put = static_cast<std::size_t>(n);
        return 0;
    }
    return errno == EAGAIN || errno == EINTR ? 0 : lastError();
}

int LinuxSerialPort::waitReadable(int handle, int wakeHandle, int timeoutMs, SerialWaitResult& result) {
    result = {};
    pollfd fds[2] = {{handle, POLLIN, 0}, {wakeHandle, POLLIN, 0}};
    int n = poll(fds, wakeHandle >= 0 ? 2 : 1, timeoutMs);
    if (n < 0) return errno == EINTR ? 0 : lastError();
    result.readable = (fds[0].revents & POLLIN) != 0;
    result.hangup = (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    result.woken = wakeHandle >= 0 && (fds[1].revents & POLLIN) != 0;
    return 0;
}

int LinuxSerialPort::waitWritable(int handle, int timeoutMs, bool& ready) {
    ready = false;
    pollfd fd{handle, POLLOUT, 0};
    int n = poll(&fd, 1, timeoutMs);
    if (n < 0) return errno == EINTR ? 0 : lastError();
    if (fd.revents & (POLLERR | POLLNVAL)) return EIO;
    ready = (fd.revents & POLLOUT) != 0;
    return 0;
}

int LinuxSerialPort::createWakeHandle(int& wakeHandle) {
    wakeHandle = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return wakeHandle >= 0 ? 0 : lastError();
}

void LinuxSerialPort::signalWake(int wakeHandle) {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeHandle, &one, sizeof one);
}

void LinuxSerialPort::closeWakeHandle(int wakeHandle) {
    if (wakeHandle >= 0) ::close(wakeHandle);
}

void LinuxSerialPort::raiseThreadPriority() {
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

SerialPortServices& systemSerialPortServices() {
    static LinuxSerialPort services;
    return services;
}

} // namespace mub
