// The owner's side of a SerialChannel, the same on every system: open,
// configure, close, send, purge and line control over the system's serial
// services, the refusals and error texts, and the locking around each
// operation. The listener is serial_session.cpp.
#include "serial/serial_channel.h"

#include "platform/gbk_text.h"
#include "platform/serial_port_services.h"
#include "serial/line_rates.h"
#include "serial/serial_session.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace mub {
namespace {

// How long close waits for the listener before leaving it to end on its own.
constexpr int closeBoundMs = 500;

// "COM3,57600,N,1,8": name, rate, parity letter (0 none .. 4 space), stop
// bits (0 one, 1 one and a half, 2 two), data bits.
std::string settingsTextOf(const std::string& portName, const SerialLineParams& line) {
    static const char parityLetters[] = {'N', 'O', 'E', 'M', 'S'};
    std::string text = portName + "," + std::to_string(line.baudRate) + ",";
    text += parityLetters[line.parity >= 0 && line.parity <= 4 ? line.parity : 0];
    text += line.stopBits == 2 ? ",2" : line.stopBits == 1 ? ",1.5" : ",1";
    return text + "," + std::to_string(line.dataBits);
}

} // namespace

struct SerialChannel::Impl {
    Impl(PortTable table, SerialPortServices& services)
        : ports(std::move(table)), sys(services), lineErrors(std::make_shared<std::atomic<std::uint32_t>>(0)) {}

    PortTable ports;
    SerialPortServices& sys;
    std::shared_ptr<std::atomic<std::uint32_t>> lineErrors;
    // Serialises the owner's operations. Recursive so an onError handler may
    // call back into the channel.
    std::recursive_mutex opLock;
    std::shared_ptr<SerialSession> session; // set while a port is open
    SerialErrorHandler onError;             // kept after close: later misuse is still reported

    void setName(std::string name) {
        std::lock_guard<std::mutex> guard(nameLock_);
        portName_ = std::move(name);
    }
    std::string name() const {
        std::lock_guard<std::mutex> guard(nameLock_);
        return portName_;
    }
    void raise(const std::string& text) {
        if (onError) onError(text);
    }
    // prefix + " 错误ID：" + code + two spaces + the system's message.
    void raiseCode(const char* prefixUtf8, int code) {
        raise(gbk(prefixUtf8) + gbk(" 错误ID：") + std::to_string(static_cast<unsigned long>(code)) + "  " +
              sys.errorMessage(code));
    }

    // Closes the port after a failed step; the session is released once
    // the operation is out of opLock.
    void closeAfterFailure() {
        if (!session) return;
        pendingRelease_ = std::move(session);
        setName({});
    }
    void releaseAfterFailedStart(int code) {
        closeAfterFailure();
        raiseCode("集线程句柄创建失败", code);
    }

    // A port whose driver held a call beyond its bound is given up: told
    // once, and closed at the owner's next operation.
    bool givenUp() {
        if (!session || !session->driver.stuck()) return false;
        session->tellIfGivenUp();
        closeAfterFailure();
        return true;
    }
    // A step of the open port that must succeed (`name` is the Win32 call's,
    // for the report): false when it failed or the driver is hung, the port
    // closed either way.
    template <typename Call> bool step(const char* name, Call call) {
        const std::optional<int> code = session->driverCall(name, std::move(call));
        if (code && *code == 0) return true;
        if (givenUp() || !code) return false;
        closeAfterFailure();
        raiseCode(name, *code);
        return false;
    }
    // The open port's line settings and the code of reading them; nothing
    // when the driver is hung (the port is then given up).
    std::optional<std::pair<int, SerialLineParams>> readLine() {
        auto line = session->driverQuery<SerialLineParams>(
            "GetCommState",
            [](SerialPortServices& services, SerialHandle handle, SerialLineParams& p) { return services.getLine(handle, p); });
        if (!line) givenUp();
        return line;
    }

    // Runs an operation under opLock, then releases what a failed step
    // closed. Sessions closed by their own listener are joined first when
    // `reap` is set.
    template <typename Operation> bool run(Operation operation, bool reap = false) {
        if (reap) reapOrphans();
        bool ok;
        {
            std::lock_guard<std::recursive_mutex> guard(opLock);
            ok = operation();
        }
        std::shared_ptr<SerialSession> s;
        {
            std::lock_guard<std::recursive_mutex> guard(opLock);
            s = std::move(pendingRelease_);
        }
        if (s) release(std::move(s));
        return ok;
    }

    // Takes the open session out and releases it without holding opLock, so
    // handlers that call the channel cannot deadlock against the close.
    void closeSession() {
        std::shared_ptr<SerialSession> s;
        {
            std::lock_guard<std::recursive_mutex> guard(opLock);
            s = std::move(session);
            if (!s) return;
            setName({});
        }
        release(std::move(s));
    }

    void release(std::shared_ptr<SerialSession> s) {
        // A handler that closed its own channel runs on the listener, which
        // cannot wait for itself: a later operation on another thread does.
        if (s->isListenerThread()) {
            s->listening.store(false);
            s->stopRequested.store(true);
            std::lock_guard<std::recursive_mutex> guard(opLock);
            orphans_.push_back(std::move(s));
            return;
        }
        s->stopAndRelease(closeBoundMs);
    }

    void reapOrphans() {
        std::vector<std::shared_ptr<SerialSession>> done;
        {
            std::lock_guard<std::recursive_mutex> guard(opLock);
            for (auto it = orphans_.begin(); it != orphans_.end();) {
                if (!(*it)->isListenerThread()) {
                    done.push_back(std::move(*it));
                    it = orphans_.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (auto& s : done) s->stopAndRelease(closeBoundMs);
    }

    // A listener that closed its own channel from a handler still runs.
    bool listenerStillRunning() const { return !orphans_.empty(); }

    bool configureLocked(const SerialSettings& settings);
    bool openLocked(std::int32_t port, const SerialSettings& settings, SerialDataHandler onData,
                    SerialNotifyHandler onNotify, SerialStatusHandler onStatus, SerialErrorHandler onError);

private:
    std::vector<std::shared_ptr<SerialSession>> orphans_;
    std::shared_ptr<SerialSession> pendingRelease_;
    mutable std::mutex nameLock_;
    std::string portName_;
};

bool SerialChannel::Impl::configureLocked(const SerialSettings& s) {
    givenUp();
    if (!session) {
        raiseCode("未启动串口", sys.codes().noPort);
        return false;
    }
    SerialSession& port = *session;
    const auto current = readLine();
    if (!current) return false;
    if (const int code = current->first) {
        closeAfterFailure();
        raiseCode("GetCommState", code);
        return false;
    }
    SerialLineParams line = current->second;
    line.baudRate = comPortRateFor(s.baudRate);
    line.dataBits = s.dataBits >= 6 && s.dataBits <= 8 ? s.dataBits : 8;
    line.stopBits = s.stopBits == 1 || s.stopBits == 2 ? s.stopBits : 0;
    port.baudRate = line.baudRate;

    const std::int32_t* timeoutFields[5] = {&s.readIntervalTimeout, &s.readTotalTimeoutMultiplier,
                                            &s.readTotalTimeoutConstant, &s.writeTotalTimeoutMultiplier,
                                            &s.writeTotalTimeoutConstant};
    for (int i = 0; i < 5; ++i)
        port.timeouts[i] = *timeoutFields[i] > 0 ? static_cast<std::uint32_t>(*timeoutFields[i]) : defaultTimeouts[i];
    port.readTimeoutPerByte.store(port.timeouts[1]);
    port.readTimeoutConstant.store(port.timeouts[2]);
    std::array<std::uint32_t, 5> timeouts;
    std::copy(std::begin(port.timeouts), std::end(port.timeouts), timeouts.begin());
    if (!step("SetCommTimeouts", [timeouts](SerialPortServices& services, SerialHandle handle) {
            return services.setTimeouts(handle, timeouts.data());
        }))
        return false;
    const std::int32_t inputSize = s.inputQueueSize > 0 ? s.inputQueueSize : defaultQueueSize;
    const std::int32_t outputSize = s.outputQueueSize > 0 ? s.outputQueueSize : defaultQueueSize;
    if (!step("SetupComm", [inputSize, outputSize](SerialPortServices& services, SerialHandle handle) {
            return services.setQueueSizes(handle, inputSize, outputSize);
        }))
        return false;
    port.inputQueueSize.store(inputSize);

    // Raw mode and abort-on-error always; the flow-control fields only when
    // useFlowControl is on, each outside its accepted values counting as 0.
    const bool flow = s.useFlowControl > 0;
    auto pick = [flow](std::int32_t v, std::int32_t max) { return flow && v >= 1 && v <= max ? v : 0; };
    line.abortOnError = true;
    line.dtrControl = pick(s.dtrControl, 2);
    line.dsrFlow = pick(s.outxDsrFlow, 1) != 0;
    line.dsrSensitivity = pick(s.dsrSensitivity, 1) != 0;
    line.rtsControl = pick(s.rtsControl, 3);
    line.ctsFlow = pick(s.outxCtsFlow, 1) != 0;
    line.xonXoffOutput = pick(s.outX, 1) != 0;
    line.xonXoffInput = pick(s.inX, 1) != 0;
    line.discardNull = pick(s.discardNull, 1) != 0;
    line.txContinueOnXoff = pick(s.txContinueOnXoff, 1) != 0;
    port.discardNull.store(line.discardNull);

    line.parity = s.parity >= 1 && s.parity <= 4 ? s.parity : 0;
    line.parityCheck = line.parity == 1 || line.parity == 2;

    line.xonLimit = s.xonLimit > 0 ? (s.xonLimit & 0xFFFF) : 256;
    line.xoffLimit = s.outX > 0 && s.xoffLimit > 0 ? (s.xoffLimit & 0xFFFF) : 256;
    line.xonChar = static_cast<std::uint8_t>(s.xonChar >= 1 && s.xonChar <= 127 ? s.xonChar : 17);
    line.xoffChar = static_cast<std::uint8_t>(s.xoffChar >= 1 && s.xoffChar <= 127 ? s.xoffChar : 19);
    line.eventChar = s.eventChar >= 1 && s.eventChar <= 128 ? s.eventChar : -1;
    if (line.eventChar >= 0) port.eventChar.store(line.eventChar);

    return step("SetCommState",
                [line](SerialPortServices& services, SerialHandle handle) { return services.setLine(handle, line); });
}

bool SerialChannel::Impl::openLocked(std::int32_t number, const SerialSettings& settings, SerialDataHandler dataHandler,
                                     SerialNotifyHandler notifyHandler, SerialStatusHandler statusHandler,
                                     SerialErrorHandler errorHandler) {
    auto refuse = [&](const char* text) {
        if (errorHandler) errorHandler(gbk(text));
        return false;
    };
    if (session) return refuse("串口已打开");
    // Only a listener that closed its own channel from a handler is still running here.
    if (listenerStillRunning()) return refuse("串口已在监听");
    if (number < 1 || number > 255) return refuse("串口范围为1-255");

    onError = std::move(errorHandler);
    auto s = std::make_shared<SerialSession>(sys, lineErrors);
    s->onData = std::move(dataHandler);
    s->onNotify = std::move(notifyHandler);
    s->onStatus = std::move(statusHandler);

    // Read and write, shared with nobody, overlapped transfers. A number
    // without a device fails like a missing port.
    const std::string path = ports.devicePath(number);
    SerialHandle handle = noSerialHandle;
    const int code = path.empty() ? sys.codes().missingPort : sys.open(path, handle);
    if (code != 0) {
        raiseCode("串口句柄", code);
        return false;
    }
    s->port = handle;
    s->onError = onError;
    session = s;
    setName("COM" + std::to_string(number));
    // From here on every blocking call of the driver goes through the lane.
    int laneCode = 0;
    if (!s->startDriverLane(laneCode)) {
        releaseAfterFailedStart(laneCode);
        return false;
    }

    const std::uint32_t mask = s->onNotify ? listenedEvents : inputEvents;
    s->listenFor(mask);
    if (!step("SetCommMask",
              [mask](SerialPortServices& services, SerialHandle port) { return services.setEventMask(port, mask); }))
        return false;
    if (!step("SetupComm", [](SerialPortServices& services, SerialHandle port) {
            return services.setQueueSizes(port, defaultQueueSize, defaultQueueSize);
        }))
        return false;
    if (!configureLocked(settings)) return false;

    if (int wakeCode = sys.createWake(s->wake)) {
        s->wake = noSerialHandle;
        raiseCode("无法初始化事件", wakeCode);
        releaseAfterFailedStart(wakeCode);
        return false;
    }
    // Both queues are discarded before the listener starts, not by the
    // listener itself: bytes that arrive once open has returned are kept.
    s->driverCall("PurgeComm", [](SerialPortServices& services, SerialHandle port) { return services.purge(port, true, true); });
    if (givenUp()) return false;
    int threadCode = 0;
    if (!s->startListener(threadCode)) {
        releaseAfterFailedStart(threadCode);
        return false;
    }
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
    return impl_->run([&] {
        // The write of a port given up would go to the hung driver.
        if (impl_->givenUp() || !impl_->session || bytes == nullptr || count <= 0) return false;
        std::int32_t put = 0;
        bool cutShort = false;
        const bool sent = impl_->session->send(bytes, count, put, cutShort);
        if (written) *written = put;
        if (impl_->givenUp()) return false;
        if (cutShort) impl_->raise(gbk("发送串口错误，实际发送：") + std::to_string(put) + gbk(" 字节。"));
        return sent;
    });
}

bool SerialChannel::purge(bool clearOutput, bool clearInput) {
    std::shared_ptr<SerialSession> s;
    const bool open = impl_->run([&] {
        impl_->givenUp();
        if (!impl_->session) {
            impl_->raiseCode("未启动串口", impl_->sys.codes().noPort);
            return false;
        }
        if (!clearOutput && !clearInput) return false;
        s = impl_->session;
        return true;
    });
    if (!open) return false;
    // Outside opLock: the purge may wait for an onData call in progress,
    // and a handler may call into the channel.
    const bool done = s->purge(clearOutput, clearInput);
    if (!done && s->driver.stuck()) impl_->run([&] { return impl_->session == s && impl_->givenUp(); });
    return done;
}

std::int32_t SerialChannel::lineState() {
    std::int32_t state = 0;
    impl_->run([&] {
        if (impl_->givenUp() || !impl_->session) return false;
        const auto lines = impl_->session->driverQuery<int>(
            "GetCommModemStatus",
            [](SerialPortServices& services, SerialHandle port, int& value) { return services.modemLines(port, value); });
        if (!lines) {
            impl_->givenUp();
            return false;
        }
        if (lines->first == 0) state = (lines->second & ModemCts) ? 2 : 1;
        return true;
    });
    return state;
}

bool SerialChannel::lineControl(std::int32_t code) {
    return impl_->run([&] {
        if (impl_->givenUp() || !impl_->session || code < 1 || code > 8) return false;
        const std::optional<int> result = impl_->session->driverCall(
            "EscapeCommFunction", [code](SerialPortServices& services, SerialHandle port) { return services.lineControl(port, code); });
        if (!result) {
            impl_->givenUp();
            return false;
        }
        return *result == 0;
    });
}

std::string SerialChannel::settingsText() {
    std::string text;
    impl_->run([&] {
        impl_->givenUp();
        if (!impl_->session) {
            impl_->raiseCode("未启动串口", impl_->sys.codes().noPort);
            return false;
        }
        const auto line = impl_->readLine();
        if (!line) return false;
        if (const int code = line->first) {
            impl_->raiseCode("GetCommState", code);
            return false;
        }
        text = settingsTextOf(openPortName(), line->second);
        return true;
    });
    return text;
}

bool SerialChannel::isOpen() const { return !impl_->name().empty(); }

std::string SerialChannel::openPortName() const { return impl_->name(); }

std::uint32_t SerialChannel::lineErrors() const { return impl_->lineErrors->load(); }

PortTable& SerialChannel::ports() { return impl_->ports; }

} // namespace mub
