#include "serial/serial_channel.h"

#include "platform/gbk_text.h"
#include "platform/serial_port_services.h"
#include "serial/channel_owner.h"
#include "serial/serial_codes.h"
#include "serial/serial_session.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace mub {
namespace {

constexpr int noPortCode = EBADF; // the code reported with "未启动串口"

} // namespace

struct SerialChannel::Impl : ChannelOwner<SerialSession, SerialChannel::Impl> {
    Impl(PortTable table, SerialPortServices& services) : ports(std::move(table)), sys(services) {}

    PortTable ports;
    SerialPortServices& sys;

    void raiseCode(const char* prefixUtf8, int code) {
        ChannelOwner::raiseCode(prefixUtf8, static_cast<unsigned long>(code), sys.errorMessage(code));
    }

    void stopListener(SerialSession& s) {
        if (s.wake >= 0) sys.signalWake(s.wake);
    }

    // Stops the listener, waits for it and closes the handles.
    void release(std::shared_ptr<SerialSession> s) {
        if (!s) return;
        s->listening.store(false);
        s->stopRequested.store(true);
        stopListener(*s);
        if (parkIfOwnListener(s)) return;
        if (s->thread.joinable()) s->thread.join();
        // Under the read lock: a purge that took the session before the
        // close finishes with the handle before it goes.
        std::lock_guard<std::mutex> guard(s->readLock);
        sys.close(s->handle);
        s->handle = -1;
        sys.closeWakeHandle(s->wake);
        s->wake = -1;
    }

    void releaseAfterFailedStart(int code) {
        closeAfterFailure();
        raiseCode("集线程句柄创建失败", code);
    }

    bool configureLocked(const SerialSettings& settings);
    bool openLocked(std::int32_t port, const SerialSettings& settings, SerialDataHandler onData,
                    SerialNotifyHandler onNotify, SerialStatusHandler onStatus, SerialErrorHandler onError);
};

bool SerialChannel::Impl::configureLocked(const SerialSettings& s) {
    if (!session) {
        raiseCode("未启动串口", noPortCode);
        return false;
    }
    SerialSession& port = *session;
    SerialLineParams line;
    if (int code = sys.getLine(port.handle, line)) {
        closeAfterFailure();
        raiseCode("GetCommState", code);
        return false;
    }

    line.baudRate = isSupportedSerialRate(s.baudRate) ? s.baudRate : 9600;
    line.dataBits = s.dataBits >= 6 && s.dataBits <= 8 ? s.dataBits : 8;
    // One and a half stop bits do not exist on Linux: two are used instead
    // (a receiver that expects one and a half accepts two).
    line.stopBits = s.stopBits == 1 || s.stopBits == 2 ? 2 : 0;

    // Queue sizes and time-outs have no termios form; the channel keeps them
    // (the write time-outs bound send, the input size sets the "nearly full" mark).
    port.inputQueueSize.store(s.inputQueueSize > 0 ? s.inputQueueSize : defaultQueueSize);
    port.outputQueueSize.store(s.outputQueueSize > 0 ? s.outputQueueSize : defaultQueueSize);
    const std::int32_t* timeoutFields[5] = {&s.readIntervalTimeout, &s.readTotalTimeoutMultiplier,
                                            &s.readTotalTimeoutConstant, &s.writeTotalTimeoutMultiplier,
                                            &s.writeTotalTimeoutConstant};
    for (int i = 0; i < 5; ++i)
        port.timeouts[i] = *timeoutFields[i] > 0 ? static_cast<std::uint32_t>(*timeoutFields[i]) : defaultTimeouts[i];

    // Flow-control fields count only when useFlowControl is on; each outside
    // its accepted values counts as 0.
    const bool flow = s.useFlowControl > 0;
    auto pick = [flow](std::int32_t v, std::int32_t max) { return flow && v >= 1 && v <= max ? v : 0; };
    const std::int32_t dtrControl = pick(s.dtrControl, 2);
    const std::int32_t rtsControl = pick(s.rtsControl, 3);
    const bool outxCtsFlow = pick(s.outxCtsFlow, 1) != 0;
    // DSR flow, DSR sensitivity and going on after XOFF have no Linux form.
    line.ctsFlow = outxCtsFlow || rtsControl == 2;
    line.xonXoffOutput = pick(s.outX, 1) != 0;
    line.xonXoffInput = pick(s.inX, 1) != 0;
    port.discardNull.store(pick(s.discardNull, 1) != 0);
    port.ctsFlow.store(line.ctsFlow);

    line.parity = s.parity >= 1 && s.parity <= 4 ? s.parity : 0;
    line.parityCheck = line.parity == 1 || line.parity == 2;

    // The XON/XOFF fill levels are fixed by the kernel on Linux.
    line.xonChar = static_cast<std::uint8_t>(s.xonChar >= 1 && s.xonChar <= 127 ? s.xonChar : 17);
    line.xoffChar = static_cast<std::uint8_t>(s.xoffChar >= 1 && s.xoffChar <= 127 ? s.xoffChar : 19);
    if (s.eventChar >= 1 && s.eventChar <= 128) port.eventChar.store(s.eventChar);

    if (int code = sys.setLine(port.handle, line)) {
        closeAfterFailure();
        raiseCode("SetCommState", code);
        return false;
    }
    // DTR and RTS follow their control fields (off unless flow control sets
    // them). Drivers without modem lines refuse; nothing to do then.
    sys.setModemLines(port.handle, ModemDtr, dtrControl != 0);
    if (rtsControl != 2) sys.setModemLines(port.handle, ModemRts, rtsControl != 0);
    return true;
}

SerialChannel::SerialChannel(PortTable ports) : SerialChannel(std::move(ports), systemSerialPortServices()) {}

SerialChannel::SerialChannel(PortTable ports, SerialPortServices& services)
    : impl_(new Impl(std::move(ports), services)) {}

SerialChannel::~SerialChannel() {
    close();
    impl_->reapOrphans();
    delete impl_;
}

bool SerialChannel::Impl::openLocked(std::int32_t port, const SerialSettings& settings, SerialDataHandler dataHandler,
                                     SerialNotifyHandler notifyHandler, SerialStatusHandler statusHandler,
                                     SerialErrorHandler errorHandler) {
    auto refuse = [&](const char* text) {
        if (errorHandler) errorHandler(gbk(text));
        return false;
    };
    if (session) return refuse("串口已打开");
    // Only a listener that closed its own channel from a handler is still running here.
    if (listenerStillRunning()) return refuse("串口已在监听");
    if (port < 1 || port > 255) return refuse("串口范围为1-255");

    onError = std::move(errorHandler);
    auto s = std::make_shared<SerialSession>(sys);
    s->onData = std::move(dataHandler);
    s->onNotify = std::move(notifyHandler);
    s->onStatus = std::move(statusHandler);

    const std::string path = ports.devicePath(port);
    int handle = -1;
    // A number without a device fails like a missing port.
    const int code = path.empty() ? ENOENT : sys.openExclusive(path, handle);
    if (code != 0) {
        raiseCode("串口句柄", code);
        return false;
    }
    s->handle = handle;
    sys.requestLowLatency(handle);
    session = std::move(s);
    setName("COM" + std::to_string(port));
    // Linux has no event mask and no driver queue sizes to set: the listener
    // watches the port with poll, and the queue sizes are the channel's own.

    if (!configureLocked(settings)) return false;

    SerialSession& started = *session;
    if (int wakeCode = sys.createWakeHandle(started.wake)) {
        started.wake = -1;
        raiseCode("无法初始化事件", wakeCode);
        releaseAfterFailedStart(wakeCode);
        return false;
    }
    // Both queues are discarded before the listener starts, not by the
    // listener itself: bytes that arrive once open has returned are kept.
    sys.flush(started.handle, true, true);
    started.takeLineBaseline();
    try {
        started.thread = std::thread([&started] { started.listen(); });
    } catch (const std::system_error& e) {
        releaseAfterFailedStart(e.code().value());
        return false;
    }
    return true;
}

bool SerialChannel::open(std::int32_t port, const SerialSettings& settings, SerialDataHandler onData,
                         SerialNotifyHandler onNotify, SerialStatusHandler onStatus, SerialErrorHandler onError) {
    return impl_->run(
        [&] {
            return impl_->openLocked(port, settings, std::move(onData), std::move(onNotify), std::move(onStatus),
                                     std::move(onError));
        },
        true);
}

bool SerialChannel::configure(const SerialSettings& settings) {
    return impl_->run([&] { return impl_->configureLocked(settings); });
}

void SerialChannel::close() { impl_->closeSession(); }

bool SerialChannel::send(const std::uint8_t* bytes, std::int32_t count, std::int32_t* written) {
    if (written) *written = 0;
    std::lock_guard<std::recursive_mutex> guard(impl_->opLock);
    if (!impl_->session || bytes == nullptr || count <= 0) return false;
    SerialSession& s = *impl_->session;
    SerialPortServices& sys = impl_->sys;

    // The write may take (per byte * count + constant) ms in all.
    using Clock = std::chrono::steady_clock;
    const auto budget = std::chrono::milliseconds(static_cast<std::int64_t>(s.timeouts[3]) * count + s.timeouts[4]);
    const auto deadline = Clock::now() + budget;
    const auto total = static_cast<std::size_t>(count);
    std::size_t done = 0;
    bool pending = false;
    while (done < total) {
        std::size_t put = 0;
        if (sys.write(s.handle, bytes + done, total - done, put) != 0) break;
        done += put;
        if (done == total) break;
        // The driver's queue is full: wait for room until the time-out.
        pending = true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        bool ready = false;
        if (sys.waitWritable(s.handle, static_cast<int>(std::min<std::int64_t>(left, INT_MAX)), ready) != 0) break;
    }
    if (done > 0) s.outputPending.store(true);
    if (written) *written = static_cast<std::int32_t>(done);
    if (done < total && (pending || done > 0))
        impl_->raise(gbk("发送串口错误，实际发送：") + std::to_string(done) + gbk(" 字节。"));
    return done > 0;
}

bool SerialChannel::purge(bool clearOutput, bool clearInput) {
    std::shared_ptr<SerialSession> s;
    {
        std::lock_guard<std::recursive_mutex> guard(impl_->opLock);
        if (!impl_->session) {
            impl_->raiseCode("未启动串口", noPortCode);
            return false;
        }
        if (!clearOutput && !clearInput) return false;
        s = impl_->session;
    }
    // Outside opLock: the purge may wait for an onData call in progress,
    // and a handler may call into the channel.
    return s->purge(clearOutput, clearInput);
}

std::int32_t SerialChannel::lineState() {
    std::lock_guard<std::recursive_mutex> guard(impl_->opLock);
    if (!impl_->session) return 0;
    int lines = 0;
    if (impl_->sys.modemLines(impl_->session->handle, lines) != 0) return 0;
    return (lines & ModemCts) ? 2 : 1;
}

bool SerialChannel::lineControl(std::int32_t code) {
    std::lock_guard<std::recursive_mutex> guard(impl_->opLock);
    if (!impl_->session) return false;
    SerialPortServices& sys = impl_->sys;
    const int h = impl_->session->handle;
    switch (code) {
    case 1: return sys.setModemLines(h, ModemDtr, false) == 0;
    case 2: return sys.setModemLines(h, ModemRts, false) == 0;
    case 3: return sys.setModemLines(h, ModemDtr, true) == 0;
    case 4: return sys.setModemLines(h, ModemRts, true) == 0;
    case 5: return sys.sendFlowChar(h, false) == 0;
    case 6: return sys.sendFlowChar(h, true) == 0;
    case 7: return sys.setBreak(h, true) == 0;
    case 8: return sys.setBreak(h, false) == 0;
    default: return false;
    }
}

std::string SerialChannel::settingsText() {
    std::lock_guard<std::recursive_mutex> guard(impl_->opLock);
    if (!impl_->session) {
        impl_->raiseCode("未启动串口", noPortCode);
        return {};
    }
    SerialLineParams line;
    if (int code = impl_->sys.getLine(impl_->session->handle, line)) {
        impl_->raiseCode("GetCommState", code);
        return {};
    }
    return serialSettingsText(openPortName(), line.baudRate, line.parity, line.stopBits, line.dataBits);
}

bool SerialChannel::isOpen() const { return !impl_->name().empty(); }

std::string SerialChannel::openPortName() const { return impl_->name(); }

PortTable& SerialChannel::ports() { return impl_->ports; }

} // namespace mub
