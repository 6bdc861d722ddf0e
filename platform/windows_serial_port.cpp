// Serial-port services over the Win32 serial calls: CreateFile with
// overlapped transfers, SetCommMask and WaitCommEvent, ReadFile and
// WriteFile completed through their events, ClearCommError, PurgeComm,
// EscapeCommFunction, GetCommModemStatus.
#include "platform/serial_port_services.h"

#include "platform/wide_text_windows.h"

#include <windows.h>

#include <algorithm>

namespace mub {
namespace {

HANDLE handleOf(SerialHandle h) { return reinterpret_cast<HANDLE>(h); }
SerialHandle serialHandleOf(HANDLE h) { return reinterpret_cast<SerialHandle>(h); }

int lastError() {
    const DWORD code = ::GetLastError();
    return code != 0 ? static_cast<int>(code) : static_cast<int>(ERROR_GEN_FAILURE);
}

// An overlapped operation: its record, its completion event and the event
// bits WaitCommEvent writes, together with the bytes, in one block that a
// driver holding it keeps.
struct WindowsIo : SerialIo {
    OVERLAPPED overlapped{};
    DWORD eventBits = 0;
    WindowsIo() { overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~WindowsIo() override {
        if (overlapped.hEvent) ::CloseHandle(overlapped.hEvent);
    }
    WindowsIo(const WindowsIo&) = delete;
    WindowsIo& operator=(const WindowsIo&) = delete;

    OVERLAPPED* fresh() {
        HANDLE event = overlapped.hEvent;
        overlapped = OVERLAPPED{};
        overlapped.hEvent = event;
        ::ResetEvent(event);
        eventBits = 0;
        events = 0;
        transferred = 0;
        return &overlapped;
    }
};

WindowsIo& windowsIo(SerialIo& io) { return static_cast<WindowsIo&>(io); }

// The answer of a start: completed at once (results taken), pending, or failed.
int started(BOOL ok, HANDLE port, WindowsIo& io) {
    if (!ok) {
        const int code = lastError();
        return code == ERROR_IO_PENDING ? serialIoPending : code;
    }
    DWORD done = 0;
    if (!::GetOverlappedResult(port, &io.overlapped, &done, FALSE)) return lastError();
    io.transferred = done;
    io.events = io.eventBits;
    return 0;
}

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

class WindowsSerialPort : public SerialPortServices {
public:
    int open(const std::string& path, SerialHandle& port) override {
        HANDLE h = ::CreateFileW(wideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            port = noSerialHandle;
            return lastError();
        }
        port = serialHandleOf(h);
        return 0;
    }
    void close(SerialHandle port) override {
        if (port != noSerialHandle) ::CloseHandle(handleOf(port));
    }

    int setEventMask(SerialHandle port, std::uint32_t events) override {
        return ::SetCommMask(handleOf(port), events) ? 0 : lastError();
    }
    int setQueueSizes(SerialHandle port, std::int32_t input, std::int32_t output) override {
        return ::SetupComm(handleOf(port), static_cast<DWORD>(input), static_cast<DWORD>(output)) ? 0 : lastError();
    }
    int setTimeouts(SerialHandle port, const std::uint32_t t[5]) override {
        COMMTIMEOUTS timeouts{t[0], t[1], t[2], t[3], t[4]};
        return ::SetCommTimeouts(handleOf(port), &timeouts) ? 0 : lastError();
    }

    int getLine(SerialHandle port, SerialLineParams& p) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(handleOf(port), &dcb)) return lastError();
        p.baudRate = static_cast<std::int32_t>(dcb.BaudRate);
        p.dataBits = dcb.ByteSize;
        p.parity = dcb.Parity;
        p.parityCheck = dcb.fParity != 0;
        p.stopBits = dcb.StopBits == TWOSTOPBITS ? 2 : dcb.StopBits == ONE5STOPBITS ? 1 : 0;
        p.dtrControl = static_cast<std::int32_t>(dcb.fDtrControl);
        p.rtsControl = static_cast<std::int32_t>(dcb.fRtsControl);
        p.ctsFlow = dcb.fOutxCtsFlow != 0;
        p.dsrFlow = dcb.fOutxDsrFlow != 0;
        p.dsrSensitivity = dcb.fDsrSensitivity != 0;
        p.xonXoffOutput = dcb.fOutX != 0;
        p.xonXoffInput = dcb.fInX != 0;
        p.txContinueOnXoff = dcb.fTXContinueOnXoff != 0;
        p.discardNull = dcb.fNull != 0;
        p.abortOnError = dcb.fAbortOnError != 0;
        p.xonLimit = dcb.XonLim;
        p.xoffLimit = dcb.XoffLim;
        p.xonChar = static_cast<std::uint8_t>(dcb.XonChar);
        p.xoffChar = static_cast<std::uint8_t>(dcb.XoffChar);
        p.eventChar = static_cast<std::uint8_t>(dcb.EvtChar);
        return 0;
    }

    // Raw mode always; the error and end-of-file characters keep the port's
    // values, the event character too unless one is given.
    int setLine(SerialHandle port, const SerialLineParams& p) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(handleOf(port), &dcb)) return lastError();
        dcb.BaudRate = static_cast<DWORD>(p.baudRate);
        dcb.ByteSize = static_cast<BYTE>(p.dataBits);
        dcb.Parity = static_cast<BYTE>(p.parity);
        dcb.fParity = p.parityCheck;
        dcb.StopBits = static_cast<BYTE>(p.stopBits == 1 ? ONE5STOPBITS : p.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT);
        dcb.fBinary = TRUE;
        dcb.fAbortOnError = p.abortOnError;
        dcb.fDtrControl = static_cast<DWORD>(p.dtrControl) & 3u;
        dcb.fRtsControl = static_cast<DWORD>(p.rtsControl) & 3u;
        dcb.fOutxCtsFlow = p.ctsFlow;
        dcb.fOutxDsrFlow = p.dsrFlow;
        dcb.fDsrSensitivity = p.dsrSensitivity;
        dcb.fOutX = p.xonXoffOutput;
        dcb.fInX = p.xonXoffInput;
        dcb.fTXContinueOnXoff = p.txContinueOnXoff;
        dcb.fNull = p.discardNull;
        dcb.fErrorChar = FALSE;
        dcb.XonLim = static_cast<WORD>(p.xonLimit);
        dcb.XoffLim = static_cast<WORD>(p.xoffLimit);
        dcb.XonChar = static_cast<char>(p.xonChar);
        dcb.XoffChar = static_cast<char>(p.xoffChar);
        if (p.eventChar >= 0) dcb.EvtChar = static_cast<char>(p.eventChar);
        return ::SetCommState(handleOf(port), &dcb) ? 0 : lastError();
    }

    int readState(SerialHandle port, SerialPortState& state) override {
        state = {};
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(handleOf(port), &errors, &status)) return lastError();
        state.errorBits = errorBitsOf(errors);
        state.holdBits = holdBitsOf(status);
        state.inputQueued = static_cast<std::int32_t>(status.cbInQue);
        state.outputQueued = static_cast<std::int32_t>(status.cbOutQue);
        return 0;
    }

    int purge(SerialHandle port, bool output, bool input) override {
        DWORD flags = 0;
        if (output) flags |= PURGE_TXABORT | PURGE_TXCLEAR;
        if (input) flags |= PURGE_RXABORT | PURGE_RXCLEAR;
        return ::PurgeComm(handleOf(port), flags) ? 0 : lastError();
    }

    int lineControl(SerialHandle port, int code) override {
        static constexpr DWORD functions[] = {CLRDTR, CLRRTS, SETDTR, SETRTS, SETXOFF, SETXON, SETBREAK, CLRBREAK};
        if (code < 1 || code > 8) return ERROR_INVALID_PARAMETER;
        const HANDLE h = handleOf(port);
        if (::EscapeCommFunction(h, functions[code - 1])) return 0;
        const int refused = lastError();
        if (code > 4) return refused;
        // Drivers that cannot switch DTR or RTS directly (pseudo-terminals
        // under emulators) may still take the line's control setting.
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(h, &dcb)) return refused;
        const bool on = code >= 3;
        if (code % 2 == 1)
            dcb.fDtrControl = on ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
        else
            dcb.fRtsControl = on ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
        return ::SetCommState(h, &dcb) ? 0 : refused;
    }

    int modemLines(SerialHandle port, int& lines) override {
        DWORD status = 0;
        lines = 0;
        if (!::GetCommModemStatus(handleOf(port), &status)) return lastError();
        if (status & MS_CTS_ON) lines |= ModemCts;
        if (status & MS_DSR_ON) lines |= ModemDsr;
        if (status & MS_RLSD_ON) lines |= ModemRlsd;
        if (status & MS_RING_ON) lines |= ModemRing;
        return 0;
    }

    std::unique_ptr<SerialIo> newIo() override { return std::make_unique<WindowsIo>(); }

    int startWait(SerialHandle port, SerialIo& base) override {
        WindowsIo& io = windowsIo(base);
        OVERLAPPED* overlapped = io.fresh();
        return started(::WaitCommEvent(handleOf(port), &io.eventBits, overlapped), handleOf(port), io);
    }
    int startRead(SerialHandle port, SerialIo& base, std::size_t count) override {
        WindowsIo& io = windowsIo(base);
        OVERLAPPED* overlapped = io.fresh();
        const DWORD n = static_cast<DWORD>(std::min(count, io.bytes.size()));
        return started(::ReadFile(handleOf(port), io.bytes.data(), n, nullptr, overlapped), handleOf(port), io);
    }
    int startWrite(SerialHandle port, SerialIo& base) override {
        WindowsIo& io = windowsIo(base);
        OVERLAPPED* overlapped = io.fresh();
        const DWORD n = static_cast<DWORD>(io.bytes.size());
        return started(::WriteFile(handleOf(port), io.bytes.data(), n, nullptr, overlapped), handleOf(port), io);
    }

    int finish(SerialHandle port, SerialIo& base, int timeoutMs, SerialHandle wake) override {
        WindowsIo& io = windowsIo(base);
        // A look without waiting reads the record's status, not the event:
        // no system call while the operation goes on (a purge looks before
        // every block is written).
        if (timeoutMs <= 0 && !HasOverlappedIoCompleted(&io.overlapped)) return serialIoPending;
        HANDLE ends[2] = {io.overlapped.hEvent, handleOf(wake)};
        const DWORD count = wake == noSerialHandle ? 1 : 2;
        const DWORD waited = ::WaitForMultipleObjects(count, ends, FALSE, timeoutMs < 0 ? 0 : static_cast<DWORD>(timeoutMs));
        if (waited != WAIT_OBJECT_0) return serialIoPending; // woken, or not yet
        DWORD done = 0;
        const BOOL ok = ::GetOverlappedResult(handleOf(port), &io.overlapped, &done, FALSE);
        if (!ok && ::GetLastError() == ERROR_IO_INCOMPLETE) return serialIoPending;
        // A write that ran into its time-outs completes with what went out.
        io.transferred = ok ? done : static_cast<std::size_t>(io.overlapped.InternalHigh);
        io.events = io.eventBits;
        return ok ? 0 : lastError();
    }

    void cancel(SerialHandle port, SerialIo& base) override {
        ::CancelIoEx(handleOf(port), &windowsIo(base).overlapped);
    }
    // The record's status, written by the driver when the wait or the read
    // completes: no system call.
    bool inputQuiet(SerialHandle, SerialIo& base) override { return !HasOverlappedIoCompleted(&windowsIo(base).overlapped); }

    int createWake(SerialHandle& wake) override {
        HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        wake = event ? serialHandleOf(event) : noSerialHandle;
        return event ? 0 : lastError();
    }
    void signalWake(SerialHandle wake) override { ::SetEvent(handleOf(wake)); }
    void closeWake(SerialHandle wake) override {
        if (wake != noSerialHandle) ::CloseHandle(handleOf(wake));
    }
    void sleep(SerialHandle wake, int ms) override {
        if (wake == noSerialHandle)
            ::Sleep(static_cast<DWORD>(ms));
        else
            ::WaitForSingleObject(handleOf(wake), static_cast<DWORD>(ms));
    }

    void raiseThreadPriority() override { ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL); }
    std::string errorMessage(int code) override { return systemErrorText(static_cast<unsigned long>(code)); }
    SerialSystemCodes codes() const override {
        return {ERROR_OPERATION_ABORTED, ERROR_INVALID_HANDLE, ERROR_FILE_NOT_FOUND};
    }
};

} // namespace

SerialPortServices& systemSerialPortServices() {
    static WindowsSerialPort services;
    return services;
}

} // namespace mub
