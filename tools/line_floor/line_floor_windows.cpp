// line_floor PORT BLOCKS on Windows: the tool's side of the bare exchange
// over the system's serial calls, as the serial channel uses them: the port
// opened for overlapped transfers, a listener thread whose one-byte reads
// release a semaphore per answer, and the main thread writing a block and
// waiting for its completion, then for the answer.
#include "link/reply_latency.h"
#include "tools/line_floor/line_floor.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

HANDLE port = INVALID_HANDLE_VALUE;
HANDLE answers = nullptr;
std::atomic<mub::ReplyLatency::Clock::rep> answeredAt{0};

DWORD WINAPI listen(void*) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::uint8_t byte = 0;
    for (;;) {
        ::ResetEvent(overlapped.hEvent);
        DWORD got = 0;
        if (!::ReadFile(port, &byte, 1, nullptr, &overlapped) && ::GetLastError() != ERROR_IO_PENDING) return 1;
        if (!::GetOverlappedResult(port, &overlapped, &got, TRUE)) return 1;
        if (got == 1) {
            answeredAt = mub::ReplyLatency::Clock::now().time_since_epoch().count();
            ::ReleaseSemaphore(answers, 1, nullptr);
        }
    }
}

bool writeAll(const std::uint8_t* bytes, DWORD count, OVERLAPPED& overlapped) {
    ::ResetEvent(overlapped.hEvent);
    DWORD done = 0;
    if (!::WriteFile(port, bytes, count, nullptr, &overlapped) && ::GetLastError() != ERROR_IO_PENDING) return false;
    return ::GetOverlappedResult(port, &overlapped, &done, TRUE) && done == count;
}

} // namespace

int main(int argc, char** argv) {
    using namespace mub;
    const long blocks = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 0;
    if (blocks <= 0) {
        std::fprintf(stderr, "usage: line_floor PORT BLOCKS\n");
        return 2;
    }
    const std::string name = std::string("\\\\.\\") + argv[1];
    port = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                         nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "line_floor: %s: error %lu\n", argv[1], ::GetLastError());
        return 1;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ::GetCommState(port, &dcb);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    ::SetCommState(port, &dcb);
    // A read waits until its byte comes.
    COMMTIMEOUTS timeouts{};
    ::SetCommTimeouts(port, &timeouts);

    answers = ::CreateSemaphoreW(nullptr, 0, blocks + 2, nullptr);
    if (!answers || !::CreateThread(nullptr, 0, listen, nullptr, 0, nullptr)) return 1;

    OVERLAPPED overlapped{};
    overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const std::vector<std::uint8_t> block(floor::blockBytes, 0x5A);
    const std::uint8_t hello = 0;
    if (!writeAll(&hello, 1, overlapped)) return 1;
    ReplyLatency latency; // MUB_REPLY_LATENCY, as in the program
    auto answered = [&] {
        ::WaitForSingleObject(answers, INFINITE);
        latency.arrived(ReplyLatency::Clock::time_point(ReplyLatency::Clock::duration(answeredAt.load())));
    };
    answered(); // the ready byte
    for (long i = 0; i < blocks; ++i) {
        latency.written(ReplyLatency::Clock::now());
        if (!writeAll(block.data(), static_cast<DWORD>(block.size()), overlapped)) return 1;
        answered();
    }
    const std::uint8_t end = floor::endByte;
    if (!writeAll(&end, 1, overlapped)) return 1;
    latency.report();
    ::ExitProcess(0); // the listener is still in its read
}
