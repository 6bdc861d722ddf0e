// The serial channel over the Win32 serial services: a COM port opened for
// overlapped transfers, an event mask, and a listener thread that waits for
// line events and reads what the driver holds.
//
// COM numbers are the system's own here; the port table is not consulted.
#include "serial/serial_channel.h"

#include "platform/gbk_text.h"
#include "platform/wide_text_windows.h"
#include "serial/channel_owner.h"
#include "serial/serial_codes.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace mub {
namespace {

constexpr std::int32_t defaultQueueSize = 4096;
constexpr DWORD defaultTimeouts[5] = {MAXDWORD, 0, 0, 100, 1000};
constexpr DWORD noPortCode = ERROR_INVALID_HANDLE; // the code reported with "未启动串口"
constexpr DWORD retryPauseMs = 20;                 // after a wait that failed or could not start
constexpr int deliveryWaitMs = 100;                // longest a purge waits for an onData call in progress

constexpr DWORD modemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
constexpr DWORD lineEvents =
    EV_RXCHAR | EV_RXFLAG | EV_TXEMPTY | EV_BREAK | EV_ERR | EV_RX80FULL | modemEvents;

// Hold bits of COMSTAT in the channel's terms.
std::int32_t holdBitsOf(const COMSTAT& s) {
    std::int32_t bits = 0;
    if (s.fCtsHold) bits |= HoldCts;
    if (s.fDsrHold) bits |= HoldDsr;
    if (s.fRlsdHold) bits |= HoldRlsd;
    if (s.fXoffHold) bits |= HoldXoff;
    if (s.fXoffSent) bits |= HoldXoffSent;
    if (s.fEof) bits |= HoldEof;
    if (s.fTxim) bits |= HoldImmediate;
    return bits;
}

std::int32_t errorBitsOf(DWORD errors) {
    std::int32_t bits = 0;
    if (errors & CE_RXOVER) bits |= ErrorInputOverflow;
    if (errors & CE_OVERRUN) bits |= ErrorOverrun;
    if (errors & CE_RXPARITY) bits |= ErrorParity;
    if (errors & CE_FRAME) bits |= ErrorFraming;
    if (errors & CE_BREAK) bits |= ErrorBreak;
    return bits;
}

struct Overlapped {
    OVERLAPPED ov{};
    Overlapped() { ov.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped() {
        if (ov.hEvent) ::CloseHandle(ov.hEvent);
    }
    Overlapped(const Overlapped&) = delete;
    Overlapped& operator=(const Overlapped&) = delete;
    void reset() {
        HANDLE event = ov.hEvent;
        ov = OVERLAPPED{};
        ov.hEvent = event;
        ::ResetEvent(event);
    }
};

} // namespace

// One open port and its listener. Close takes the whole session out of the
// channel and waits for its thread without holding the channel's lock.
struct WindowsSerialSession {
    HANDLE port = INVALID_HANDLE_VALUE;
    SerialDataHandler onData;
    SerialNotifyHandler onNotify;
    SerialStatusHandler onStatus;

    std::atomic<bool> listening{true};
    std::atomic<bool> stopRequested{false};
    std::atomic<std::int32_t> inputQueueSize{defaultQueueSize};
    DWORD timeouts[5] = {defaultTimeouts[0], defaultTimeouts[1], defaultTimeouts[2], defaultTimeouts[3],
                         defaultTimeouts[4]};
    // The events the listener waits for. The modem-line events are dropped
    // when the driver refuses a wait that includes them (ports without modem
    // lines, such as pseudo-terminals under emulators): the other events and
    // the data then still arrive through the wait.
    std::atomic<DWORD> waitMask{lineEvents};
    // Set when the driver ends every pending event wait at once without an
    // event (pseudo-terminals under emulators cancel them): the listener
    // then waits for input with a pending one-byte read instead, which such
    // drivers keep pending until a byte arrives.
    bool waitsCancelled = false;

    HANDLE readGate = nullptr; // open (signalled) unless the listener reads
    std::unique_ptr<Overlapped> waitDone, readDone, writeDone;
    std::mutex readLock; // held while the listener reads; purges and the final close take it too
    std::thread thread;

    std::atomic<std::uint64_t> purges{0};
    std::mutex deliveryLock;
    std::condition_variable deliveryDone;
    bool delivering = false;

    void notify(std::int32_t code) {
        if (onNotify) onNotify(code);
    }
    void status(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) {
        if (onStatus) onStatus(a, b, c, d);
    }

    void listen();
    void deliverWaitingInput(DWORD queued, std::vector<std::uint8_t>& buffer, int firstByte = -1);
    bool waitForInputByReading(std::vector<std::uint8_t>& buffer);
    void raiseEvents(DWORD events);
    void endPendingWait(bool pending);
    bool purge(bool clearOutput, bool clearInput);
};

void WindowsSerialSession::listen() {
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
    std::vector<std::uint8_t> buffer(defaultQueueSize);
    while (listening.load()) {
        DWORD errors = 0;
        COMSTAT state{};
        ::ClearCommError(port, &errors, &state);
        if (state.cbOutQue > 0) status(static_cast<std::int32_t>(state.cbOutQue), 0, 0, 0);
        if (state.cbInQue > 0) {
            status(0, static_cast<std::int32_t>(state.cbInQue), 0, 0);
            deliverWaitingInput(state.cbInQue, buffer);
            continue;
        }
        if (stopRequested.load()) continue;
        if (waitsCancelled) {
            if (!waitForInputByReading(buffer)) break;
            continue;
        }

        waitDone->reset();
        DWORD events = 0;
        const DWORD mask = waitMask.load();
        const BOOL started = ::WaitCommEvent(port, &events, &waitDone->ov);
        const DWORD startError = started ? ERROR_SUCCESS : ::GetLastError();
        if (stopRequested.load()) {
            endPendingWait(startError == ERROR_IO_PENDING);
            break;
        }
        if (startError == ERROR_IO_PENDING) {
            DWORD ignored = 0;
            const BOOL done = ::GetOverlappedResult(port, &waitDone->ov, &ignored, TRUE);
            if (stopRequested.load()) {
                endPendingWait(true);
                break;
            }
            if (!done) {
                const DWORD error = ::GetLastError();
                endPendingWait(true);
                if (error == ERROR_OPERATION_ABORTED) waitsCancelled = true;
                else ::Sleep(retryPauseMs);
                continue;
            }
            raiseEvents(events);
        } else if (!started) {
            if (startError == ERROR_NOT_SUPPORTED && (mask & modemEvents)) {
                // Fall back to the events the driver can wait for.
                waitMask.store(mask & ~modemEvents);
                ::SetCommMask(port, mask & ~modemEvents);
            }
            ::Sleep(retryPauseMs);
        }
        // A wait that completed at once is not decoded.
        if (errors != 0) status(0, 0, errorBitsOf(errors), 0);
        if (const std::int32_t hold = holdBitsOf(state)) status(0, 0, 0, hold);
    }
}

// A wait that close ended by signalling its event may still be pending in
// the driver: it is cancelled and waited for before its record is reused or
// released.
void WindowsSerialSession::endPendingWait(bool pending) {
    if (!pending) return;
    if (HasOverlappedIoCompleted(&waitDone->ov)) return;
    ::CancelIo(port);
    while (!HasOverlappedIoCompleted(&waitDone->ov)) ::SleepEx(1, TRUE);
}

// Waits for the first byte with a pending read; false when close ended the wait.
bool WindowsSerialSession::waitForInputByReading(std::vector<std::uint8_t>& buffer) {
    std::uint8_t first = 0;
    DWORD got = 0;
    // Close signals the wait's completion event to end this wait too.
    ::ResetEvent(waitDone->ov.hEvent);
    if (stopRequested.load()) return false;
    readDone->reset();
    if (!::ReadFile(port, &first, 1, &got, &readDone->ov)) {
        if (::GetLastError() != ERROR_IO_PENDING) {
            ::Sleep(retryPauseMs);
            return true;
        }
        HANDLE ends[2] = {readDone->ov.hEvent, waitDone->ov.hEvent};
        ::WaitForMultipleObjects(2, ends, FALSE, INFINITE);
        if (stopRequested.load()) {
            ::CancelIo(port);
            ::GetOverlappedResult(port, &readDone->ov, &got, TRUE);
            return false;
        }
        if (!::GetOverlappedResult(port, &readDone->ov, &got, TRUE)) got = 0;
    }
    if (got == 0) {
        ::Sleep(retryPauseMs); // nothing came: no spinning
        return true;
    }
    DWORD errors = 0;
    COMSTAT state{};
    ::ClearCommError(port, &errors, &state);
    deliverWaitingInput(state.cbInQue, buffer, first);
    return true;
}

void WindowsSerialSession::deliverWaitingInput(DWORD queued, std::vector<std::uint8_t>& buffer, int firstByte) {
    const DWORD offset = firstByte >= 0 ? 1 : 0;
    if (buffer.size() < queued + offset) buffer.resize(queued + offset);
    if (offset) buffer[0] = static_cast<std::uint8_t>(firstByte);
    ::WaitForSingleObject(readGate, INFINITE);
    ::ResetEvent(readGate);
    DWORD got = 0;
    std::uint64_t purgesBeforeRead = 0;
    {
        std::lock_guard<std::mutex> guard(readLock);
        purgesBeforeRead = purges.load();
        readDone->reset();
        if (queued > 0 && !::ReadFile(port, buffer.data() + offset, queued, &got, &readDone->ov)) {
            got = 0;
            if (::GetLastError() == ERROR_IO_PENDING && !::GetOverlappedResult(port, &readDone->ov, &got, TRUE))
                got = 0; // a failed read yields no bytes
        }
        got += offset;
    }
    bool dropped;
    {
        std::lock_guard<std::mutex> guard(deliveryLock);
        // A purge since the read: these bytes were waiting before it.
        dropped = purges.load() != purgesBeforeRead;
        delivering = !dropped;
    }
    if (!dropped) {
        if (onData) onData(buffer.data(), static_cast<std::int32_t>(got));
        {
            std::lock_guard<std::mutex> guard(deliveryLock);
            delivering = false;
        }
        deliveryDone.notify_all();
    }
    ::SetEvent(readGate);
}

void WindowsSerialSession::raiseEvents(DWORD events) {
    DWORD lines = 0;
    const bool linesKnown = (events & (EV_CTS | EV_DSR | EV_RLSD | EV_RING)) && ::GetCommModemStatus(port, &lines);
    if (events & EV_RXFLAG) notify(NotifyFlagChar);
    if (events & EV_TXEMPTY) notify(NotifyOutputEmpty);
    if (events & EV_CTS) notify(linesKnown && (lines & MS_CTS_ON) ? NotifyCtsOn : NotifyCtsOff);
    if (events & EV_DSR) notify(linesKnown && (lines & MS_DSR_ON) ? NotifyDsrOn : NotifyDsrOff);
    if (events & EV_RLSD) notify(linesKnown && (lines & MS_RLSD_ON) ? NotifyRlsdOn : NotifyRlsdOff);
    if (events & EV_BREAK) notify(NotifyBreak);
    if (events & EV_ERR) notify(NotifyLineError);
    if ((events & EV_RING) && linesKnown && (lines & MS_RING_ON)) notify(NotifyRing);
    if (events & EV_RX80FULL) notify(NotifyInputNearlyFull);
}

bool WindowsSerialSession::purge(bool clearOutput, bool clearInput) {
    DWORD flags = 0;
    if (clearOutput) flags |= PURGE_TXABORT | PURGE_TXCLEAR;
    if (clearInput) flags |= PURGE_RXABORT | PURGE_RXCLEAR;
    if (clearInput) purges.fetch_add(1);
    bool ok;
    {
        std::lock_guard<std::mutex> guard(readLock);
        ok = port != INVALID_HANDLE_VALUE && ::PurgeComm(port, flags) != FALSE;
    }
    if (clearInput && std::this_thread::get_id() != thread.get_id()) {
        // An onData call that was under way when the purge began finishes first.
        std::unique_lock<std::mutex> lock(deliveryLock);
        deliveryDone.wait_for(lock, std::chrono::milliseconds(deliveryWaitMs), [this] { return !delivering; });
    }
    return ok;
}

struct SerialChannel::Impl : ChannelOwner<WindowsSerialSession, SerialChannel::Impl> {
    explicit Impl(PortTable table) : ports(std::move(table)) {}

    PortTable ports; // kept for callers that fill it; COM numbers are the system's own

    void raiseCode(const char* prefixUtf8, DWORD code) {
        ChannelOwner::raiseCode(prefixUtf8, code, systemErrorText(code));
    }

    // The listener has not started when a step of open fails; a configure
    // that fails later leaves it to release.
    void stopListener(WindowsSerialSession&) {}

    // Stops the listener (the signalled events and the cleared event mask
    // end its waits, so it ends without being forced) and releases the handles.
    void release(std::shared_ptr<WindowsSerialSession> s) {
        if (!s) return;
        s->listening.store(false);
        s->stopRequested.store(true);
        if (s->readGate) ::SetEvent(s->readGate);
        if (s->waitDone) ::SetEvent(s->waitDone->ov.hEvent);
        if (s->port != INVALID_HANDLE_VALUE) ::SetCommMask(s->port, 0);
        if (parkIfOwnListener(s)) return;
        if (s->thread.joinable()) s->thread.join();
        std::lock_guard<std::mutex> guard(s->readLock);
        if (s->port != INVALID_HANDLE_VALUE) ::CloseHandle(s->port);
        s->port = INVALID_HANDLE_VALUE;
        if (s->readGate) ::CloseHandle(s->readGate);
        s->readGate = nullptr;
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
    WindowsSerialSession& port = *session;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port.port, &dcb)) {
        const DWORD code = ::GetLastError();
        closeAfterFailure();
        raiseCode("GetCommState", code);
        return false;
    }
    dcb.BaudRate = static_cast<DWORD>(isSupportedSerialRate(s.baudRate) ? s.baudRate : 9600);
    dcb.ByteSize = static_cast<BYTE>(s.dataBits >= 6 && s.dataBits <= 8 ? s.dataBits : 8);
    dcb.StopBits = static_cast<BYTE>(s.stopBits == 1 ? ONE5STOPBITS : s.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT);

    const std::int32_t inputSize = s.inputQueueSize > 0 ? s.inputQueueSize : defaultQueueSize;
    const std::int32_t outputSize = s.outputQueueSize > 0 ? s.outputQueueSize : defaultQueueSize;
    const std::int32_t* timeoutFields[5] = {&s.readIntervalTimeout, &s.readTotalTimeoutMultiplier,
                                            &s.readTotalTimeoutConstant, &s.writeTotalTimeoutMultiplier,
                                            &s.writeTotalTimeoutConstant};
    for (int i = 0; i < 5; ++i)
        port.timeouts[i] = *timeoutFields[i] > 0 ? static_cast<DWORD>(*timeoutFields[i]) : defaultTimeouts[i];
    COMMTIMEOUTS timeouts{port.timeouts[0], port.timeouts[1], port.timeouts[2], port.timeouts[3], port.timeouts[4]};
    if (!::SetCommTimeouts(port.port, &timeouts)) {
        const DWORD code = ::GetLastError();
        closeAfterFailure();
        raiseCode("SetCommTimeouts", code);
        return false;
    }
    if (!::SetupComm(port.port, static_cast<DWORD>(inputSize), static_cast<DWORD>(outputSize))) {
        const DWORD code = ::GetLastError();
        closeAfterFailure();
        raiseCode("SetupComm", code);
        return false;
    }
    port.inputQueueSize.store(inputSize);

    // Raw mode and abort-on-error always; the flow-control fields only when
    // useFlowControl is on, each outside its accepted values counting as 0.
    const bool flow = s.useFlowControl > 0;
    auto pick = [flow](std::int32_t v, std::int32_t max) { return flow && v >= 1 && v <= max ? v : 0; };
    dcb.fBinary = TRUE;
    dcb.fAbortOnError = TRUE;
    dcb.fDtrControl = static_cast<DWORD>(pick(s.dtrControl, 2)) & 3u;
    dcb.fOutxDsrFlow = pick(s.outxDsrFlow, 1) != 0;
    dcb.fDsrSensitivity = pick(s.dsrSensitivity, 1) != 0;
    dcb.fRtsControl = static_cast<DWORD>(pick(s.rtsControl, 3)) & 3u;
    dcb.fOutxCtsFlow = pick(s.outxCtsFlow, 1) != 0;
    dcb.fOutX = pick(s.outX, 1) != 0;
    dcb.fInX = pick(s.inX, 1) != 0;
    dcb.fNull = pick(s.discardNull, 1) != 0;
    dcb.fTXContinueOnXoff = pick(s.txContinueOnXoff, 1) != 0;
    dcb.fErrorChar = FALSE;

    dcb.Parity = static_cast<BYTE>(s.parity >= 1 && s.parity <= 4 ? s.parity : NOPARITY);
    dcb.fParity = s.parity == 1 || s.parity == 2;

    dcb.XonLim = static_cast<WORD>(s.xonLimit > 0 ? s.xonLimit & 0xFFFF : 256);
    dcb.XoffLim = static_cast<WORD>(s.outX > 0 && s.xoffLimit > 0 ? s.xoffLimit & 0xFFFF : 256);
    dcb.XonChar = static_cast<char>(s.xonChar >= 1 && s.xonChar <= 127 ? s.xonChar : 17);
    dcb.XoffChar = static_cast<char>(s.xoffChar >= 1 && s.xoffChar <= 127 ? s.xoffChar : 19);
    if (s.eventChar >= 1 && s.eventChar <= 128) dcb.EvtChar = static_cast<char>(s.eventChar);

    if (!::SetCommState(port.port, &dcb)) {
        const DWORD code = ::GetLastError();
        closeAfterFailure();
        raiseCode("SetCommState", code);
        return false;
    }
    return true;
}

bool SerialChannel::Impl::openLocked(std::int32_t number, const SerialSettings& settings,
                                     SerialDataHandler dataHandler, SerialNotifyHandler notifyHandler,
                                     SerialStatusHandler statusHandler, SerialErrorHandler errorHandler) {
    auto refuse = [&](const char* text) {
        if (errorHandler) errorHandler(gbk(text));
        return false;
    };
    if (session) return refuse("串口已打开");
    if (listenerStillRunning()) return refuse("串口已在监听");
    if (number < 1 || number > 255) return refuse("串口范围为1-255");

    const std::string name = "COM" + std::to_string(number);
    const std::string systemName = number <= 9 ? name : "\\\\.\\" + name;
    onError = std::move(errorHandler);
    auto s = std::make_shared<WindowsSerialSession>();
    s->onData = std::move(dataHandler);
    s->onNotify = std::move(notifyHandler);
    s->onStatus = std::move(statusHandler);

    // Read and write, shared with nobody, overlapped transfers.
    s->port = ::CreateFileA(systemName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
    if (s->port == INVALID_HANDLE_VALUE) {
        raiseCode("串口句柄", ::GetLastError());
        return false;
    }
    session = s;
    setName(name);

    if (!::SetCommMask(s->port, lineEvents)) {
        const DWORD code = ::GetLastError();
        closeAfterFailure();
        raiseCode("SetCommMask", code);
        return false;
    }
    if (!::SetupComm(s->port, defaultQueueSize, defaultQueueSize)) {
        const DWORD code = ::GetLastError();
        closeAfterFailure();
        raiseCode("SetupComm", code);
        return false;
    }
    if (!configureLocked(settings)) return false;

    s->readGate = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
    s->waitDone = std::make_unique<Overlapped>();
    s->readDone = std::make_unique<Overlapped>();
    s->writeDone = std::make_unique<Overlapped>();
    if (!s->readGate || !s->waitDone->ov.hEvent || !s->readDone->ov.hEvent || !s->writeDone->ov.hEvent) {
        const DWORD code = ::GetLastError();
        raiseCode("无法初始化事件", code);
        closeAfterFailure();
        raiseCode("集线程句柄创建失败", code);
        return false;
    }
    // Both queues are discarded before the listener starts, not by the
    // listener itself: bytes that arrive once open has returned are kept.
    ::PurgeComm(s->port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    try {
        WindowsSerialSession* started = s.get();
        s->thread = std::thread([started] { started->listen(); });
    } catch (const std::system_error& e) {
        closeAfterFailure();
        raiseCode("集线程句柄创建失败", static_cast<DWORD>(e.code().value()));
        return false;
    }
    return true;
}

SerialChannel::SerialChannel(PortTable ports) : impl_(new Impl(std::move(ports))) {}

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
    std::lock_guard<std::recursive_mutex> guard(impl_->opLock);
    if (!impl_->session || bytes == nullptr || count <= 0) return false;
    WindowsSerialSession& s = *impl_->session;
    s.writeDone->reset();
    DWORD put = 0;
    if (!::WriteFile(s.port, bytes, static_cast<DWORD>(count), &put, &s.writeDone->ov)) {
        if (::GetLastError() != ERROR_IO_PENDING) return false;
        // Bounded by the write time-outs set on the port.
        if (!::GetOverlappedResult(s.port, &s.writeDone->ov, &put, TRUE)) put = static_cast<DWORD>(s.writeDone->ov.InternalHigh);
        if (put < static_cast<DWORD>(count))
            impl_->raise(gbk("发送串口错误，实际发送：") + std::to_string(put) + gbk(" 字节。"));
    }
    if (written) *written = static_cast<std::int32_t>(put);
    return put > 0;
}

bool SerialChannel::purge(bool clearOutput, bool clearInput) {
    std::shared_ptr<WindowsSerialSession> s;
    {
        std::lock_guard<std::recursive_mutex> guard(impl_->opLock);
        if (!impl_->session) {
            impl_->raiseCode("未启动串口", noPortCode);
            return false;
        }
        if (!clearOutput && !clearInput) return false;
        s = impl_->session;
    }
    return s->purge(clearOutput, clearInput);
}

std::int32_t SerialChannel::lineState() {
    std::lock_guard<std::recursive_mutex> guard(impl_->opLock);
    if (!impl_->session) return 0;
    DWORD lines = 0;
    if (!::GetCommModemStatus(impl_->session->port, &lines)) return 0;
    return (lines & MS_CTS_ON) ? 2 : 1;
}

bool SerialChannel::lineControl(std::int32_t code) {
    std::lock_guard<std::recursive_mutex> guard(impl_->opLock);
    if (!impl_->session) return false;
    static constexpr DWORD functions[] = {CLRDTR, CLRRTS, SETDTR, SETRTS, SETXOFF, SETXON, SETBREAK, CLRBREAK};
    if (code < 1 || code > 8) return false;
    const HANDLE port = impl_->session->port;
    if (::EscapeCommFunction(port, functions[code - 1])) return true;
    if (code > 4) return false;
    // Drivers that cannot switch DTR or RTS directly (pseudo-terminals under
    // emulators) may still take the line's control setting.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port, &dcb)) return false;
    const bool on = code >= 3;
    if (code % 2 == 1)
        dcb.fDtrControl = on ? 1 : 0; // DTR_CONTROL_ENABLE / DTR_CONTROL_DISABLE
    else
        dcb.fRtsControl = on ? 1 : 0; // RTS_CONTROL_ENABLE / RTS_CONTROL_DISABLE
    return ::SetCommState(port, &dcb) != FALSE;
}

std::string SerialChannel::settingsText() {
    std::lock_guard<std::recursive_mutex> guard(impl_->opLock);
    if (!impl_->session) {
        impl_->raiseCode("未启动串口", noPortCode);
        return {};
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(impl_->session->port, &dcb)) {
        impl_->raiseCode("GetCommState", ::GetLastError());
        return {};
    }
    const int stopBits = dcb.StopBits == TWOSTOPBITS ? 2 : dcb.StopBits == ONE5STOPBITS ? 1 : 0;
    return serialSettingsText(openPortName(), static_cast<long>(dcb.BaudRate), dcb.Parity, stopBits, dcb.ByteSize);
}

bool SerialChannel::isOpen() const { return !impl_->name().empty(); }

std::string SerialChannel::openPortName() const { return impl_->name(); }

PortTable& SerialChannel::ports() { return impl_->ports; }

} // namespace mub
