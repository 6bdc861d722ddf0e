// The stand-in bridge library for Windows: the six bridge functions over the
// COM port that BRIDGEMINI_PORT names ("COM5"). Built in the kinds vendors
// build such libraries (tools/bridge/CMakeLists.txt). Words 2 and 3 are the read
// and write time-outs in milliseconds; word 4 holds the number of the
// connection slot (1-based, 0 when not connected).
#include "platform/bridge_abi.h"

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

// Exported under the compiler's names, unless a .def file names them (the
// kind with decorated names only).
#ifdef BRIDGE_NAMES_FROM_DEF_FILE
#define BRIDGE_EXPORT extern "C"
#else
#define BRIDGE_EXPORT extern "C" __declspec(dllexport)
#endif

namespace {

constexpr int slotCount = 8;
HANDLE slots[slotCount] = {};
std::mutex slotMutex;

HANDLE portOf(const std::uint32_t* params) {
    if (!params) return nullptr;
    const std::uint32_t slot = params[4];
    std::lock_guard<std::mutex> guard(slotMutex);
    if (slot < 1 || slot > slotCount) return nullptr;
    return slots[slot - 1];
}

void releaseSlot(std::uint32_t* params) {
    HANDLE port = nullptr;
    {
        std::lock_guard<std::mutex> guard(slotMutex);
        const std::uint32_t slot = params[4];
        if (slot >= 1 && slot <= slotCount) {
            port = slots[slot - 1];
            slots[slot - 1] = nullptr;
        }
        params[4] = 0;
    }
    if (port) ::CloseHandle(port);
}

// The rate of a baud index of the mode record; 0 for an unknown index.
DWORD rateOfIndex(int index) {
    static const DWORD rates[] = {4800, 9600, 19200, 38400, 51200, 57600, 102400, 115200};
    return index >= 0 && index < 8 ? rates[index] : 0;
}

// Reads and writes wait at most `ms` in all.
bool setTimeouts(HANDLE port, DWORD readMs, DWORD writeMs) {
    COMMTIMEOUTS t{};
    t.ReadTotalTimeoutConstant = readMs == 0 ? 1 : readMs;
    t.WriteTotalTimeoutConstant = writeMs == 0 ? 1 : writeMs;
    return ::SetCommTimeouts(port, &t) != FALSE;
}

// Callers retry a failed connect at once while the operator plugs the cable
// in; like a USB enumeration, finding no device takes a little time.
uint32_t noDevice() {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return BRIDGE_STATUS_NO_DEVICE;
}

} // namespace

BRIDGE_EXPORT uint32_t BRIDGE_CALL MA101_ConnectBridge(uint32_t* params, int32_t) {
    if (!params) return BRIDGE_STATUS_BAD_ARGUMENT;
    releaseSlot(params); // a connect on a block that is still connected starts over
    const char* named = std::getenv("BRIDGEMINI_PORT");
    if (!named || !*named) return noDevice();
    const std::string path = std::string("\\\\.\\") + named;
    HANDLE port = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) return BRIDGE_STATUS_DEVICE_BUSY;
        return noDevice();
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (::GetCommState(port, &dcb)) {
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = FALSE;
        dcb.fDtrControl = DTR_CONTROL_DISABLE;
        dcb.fRtsControl = RTS_CONTROL_DISABLE;
        ::SetCommState(port, &dcb);
    }
    ::PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
    std::lock_guard<std::mutex> guard(slotMutex);
    for (int i = 0; i < slotCount; ++i) {
        if (!slots[i]) {
            slots[i] = port;
            params[4] = static_cast<std::uint32_t>(i + 1);
            return BRIDGE_STATUS_OK;
        }
    }
    ::CloseHandle(port);
    return BRIDGE_STATUS_FAILED;
}

BRIDGE_EXPORT uint32_t BRIDGE_CALL MA101_SetMode(uint32_t* params, const uint8_t* record, int32_t length) {
    HANDLE port = portOf(params);
    if (!port) return BRIDGE_STATUS_NOT_CONNECTED;
    if (!record || length < 2) return BRIDGE_STATUS_BAD_ARGUMENT;
    const DWORD rate = rateOfIndex(record[1]);
    if (rate == 0) return BRIDGE_STATUS_BAD_ARGUMENT; // the line keeps its speed
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port, &dcb)) return BRIDGE_STATUS_FAILED;
    dcb.BaudRate = rate;
    return ::SetCommState(port, &dcb) ? BRIDGE_STATUS_OK : BRIDGE_STATUS_FAILED;
}

BRIDGE_EXPORT uint32_t BRIDGE_CALL MA101_ClearDevBuffer(uint32_t* params) {
    HANDLE port = portOf(params);
    if (!port) return BRIDGE_STATUS_NOT_CONNECTED;
    return ::PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR) ? BRIDGE_STATUS_OK : BRIDGE_STATUS_FAILED;
}

BRIDGE_EXPORT uint32_t BRIDGE_CALL MA101_WriteData(uint32_t* params, const uint8_t* data, int32_t length,
                                                   uint32_t* written) {
    if (written) *written = 0;
    HANDLE port = portOf(params);
    if (!port) return BRIDGE_STATUS_NOT_CONNECTED;
    if (length < 0 || (length > 0 && !data)) return BRIDGE_STATUS_BAD_ARGUMENT;
    if (length == 0) return BRIDGE_STATUS_OK;
    setTimeouts(port, params[2], params[3]);
    DWORD put = 0;
    if (!::WriteFile(port, data, static_cast<DWORD>(length), &put, nullptr)) return BRIDGE_STATUS_NO_DEVICE;
    if (written) *written = put;
    return put == static_cast<DWORD>(length) ? BRIDGE_STATUS_OK : BRIDGE_STATUS_TIMEOUT;
}

BRIDGE_EXPORT uint32_t BRIDGE_CALL MA101_ReadData(uint32_t* params, uint8_t* buffer, int32_t length, uint32_t* read) {
    if (read) *read = 0;
    HANDLE port = portOf(params);
    if (!port) return BRIDGE_STATUS_NOT_CONNECTED;
    if (length < 0 || (length > 0 && !buffer)) return BRIDGE_STATUS_BAD_ARGUMENT;
    if (length == 0) return BRIDGE_STATUS_OK;
    setTimeouts(port, params[2], params[3]);
    DWORD got = 0;
    if (!::ReadFile(port, buffer, static_cast<DWORD>(length), &got, nullptr)) return BRIDGE_STATUS_NO_DEVICE;
    if (read) *read = got;
    return got == static_cast<DWORD>(length) ? BRIDGE_STATUS_OK : BRIDGE_STATUS_TIMEOUT;
}

BRIDGE_EXPORT uint32_t BRIDGE_CALL MA101_DisconnectBridge(uint32_t* params) {
    if (params) releaseSlot(params);
    return BRIDGE_STATUS_OK;
}
