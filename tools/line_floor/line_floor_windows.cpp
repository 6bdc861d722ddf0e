// The bare exchange's port on Windows, with the serial calls as the serial
// channel uses them: the port opened for overlapped transfers, a listener
// thread whose one-byte reads release a semaphore per answer, each write
// waited for through its event.
#include "tools/line_floor/line_floor.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>

namespace mub::floor {
namespace {

class WindowsFloorPort : public FloorPort {
public:
    explicit WindowsFloorPort(HANDLE port) : port_(port) {
        written_.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }

    bool start() {
        return written_.hEvent && answers_ && ::CreateThread(nullptr, 0, listen, this, 0, nullptr) != nullptr;
    }

    bool write(const std::uint8_t* bytes, std::size_t count) override {
        ::ResetEvent(written_.hEvent);
        DWORD done = 0;
        const DWORD n = static_cast<DWORD>(count);
        if ((!::WriteFile(port_, bytes, n, nullptr, &written_) && ::GetLastError() != ERROR_IO_PENDING) ||
            !::GetOverlappedResult(port_, &written_, &done, TRUE) || done != n) {
            std::fprintf(stderr, "line_floor: write: error %lu\n", ::GetLastError());
            return false;
        }
        return true;
    }

    ReplyLatency::Clock::time_point waitForAnswer() override {
        ::WaitForSingleObject(answers_, INFINITE);
        return ReplyLatency::Clock::time_point(ReplyLatency::Clock::duration(answeredAt_.load()));
    }

private:
    static DWORD WINAPI listen(void* self) {
        auto& port = *static_cast<WindowsFloorPort*>(self);
        OVERLAPPED read{};
        read.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::uint8_t byte = 0;
        for (;;) {
            ::ResetEvent(read.hEvent);
            DWORD got = 0;
            if (!::ReadFile(port.port_, &byte, 1, nullptr, &read) && ::GetLastError() != ERROR_IO_PENDING) return 1;
            if (!::GetOverlappedResult(port.port_, &read, &got, TRUE)) return 1;
            if (got == 1) {
                port.answeredAt_ = ReplyLatency::Clock::now().time_since_epoch().count();
                ::ReleaseSemaphore(port.answers_, 1, nullptr);
            }
        }
    }

    HANDLE port_;
    OVERLAPPED written_{};
    HANDLE answers_ = ::CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, nullptr);
    std::atomic<ReplyLatency::Clock::rep> answeredAt_{0};
};

} // namespace

std::unique_ptr<FloorPort> openFloorPort(const char* name) {
    const std::string path = std::string("\\\\.\\") + name;
    const HANDLE port = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "line_floor: %s: error %lu\n", name, ::GetLastError());
        return nullptr;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ::GetCommState(port, &dcb);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    ::SetCommState(port, &dcb);
    COMMTIMEOUTS timeouts{}; // a read waits until its byte comes
    ::SetCommTimeouts(port, &timeouts);
    auto floorPort = std::make_unique<WindowsFloorPort>(port);
    if (!floorPort->start()) {
        std::fprintf(stderr, "line_floor: no listener: error %lu\n", ::GetLastError());
        return nullptr;
    }
    return floorPort;
}

} // namespace mub::floor
