// Each value of SERIALCOMM names a driver's device (\Device\Serial0,
// \Device\BthModem0, ...) and holds the port's name (COM3).
#include "platform/serial_port_list.h"

#include "platform/wide_text_windows.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <string>

namespace mub {
namespace {

// The Bluetooth stacks' serial devices: BthModem (the system's own stack),
// BtPort and BTSPP (others).
bool isBluetoothDevice(std::wstring device) {
    std::transform(device.begin(), device.end(), device.begin(), [](wchar_t c) { return std::towlower(c); });
    for (const wchar_t* mark : {L"bthmodem", L"btport", L"btspp", L"bluetooth"})
        if (device.find(mark) != std::wstring::npos) return true;
    return false;
}

// The USB-serial adapters' drivers name their devices so: FTDI (VCP),
// Silicon Labs (Silabser), Prolific, WCH (CH341SER, wchusbser), the
// system's own CDC driver (USBSER). A port built into the computer is
// \Device\Serial<n>; a driver not known here is not taken for USB.
bool isUsbDevice(std::wstring device) {
    std::transform(device.begin(), device.end(), device.begin(), [](wchar_t c) { return std::towlower(c); });
    for (const wchar_t* mark : {L"\\device\\vcp", L"silabser", L"prolific", L"ch341ser", L"wchusbser", L"usbser", L"cp210"})
        if (device.find(mark) != std::wstring::npos) return true;
    return false;
}

// "COM12" gives 12; anything else 0.
int comNumber(const std::wstring& name) {
    if (name.size() < 4 || name.size() > 6 || _wcsnicmp(name.c_str(), L"COM", 3) != 0) return 0;
    int n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < L'0' || name[i] > L'9') return 0;
        n = n * 10 + (name[i] - L'0');
    }
    return n >= 1 && n <= 255 ? n : 0;
}

} // namespace

std::vector<ListedSerialPort> listedSerialPorts() {
    std::vector<ListedSerialPort> ports;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD index = 0;; ++index) {
        wchar_t device[256];
        wchar_t name[64] = {};
        DWORD deviceLength = 256;
        DWORD nameBytes = sizeof name - sizeof(wchar_t); // room for a terminating zero
        DWORD type = 0;
        const LONG result = ::RegEnumValueW(key, index, device, &deviceLength, nullptr, &type,
                                            reinterpret_cast<BYTE*>(name), &nameBytes);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS || type != REG_SZ) continue;
        const int number = comNumber(std::wstring(name, wcsnlen(name, nameBytes / sizeof(wchar_t))));
        const std::wstring driverDevice(device, deviceLength);
        if (number != 0)
            ports.push_back({number, isBluetoothDevice(driverDevice), isUsbDevice(driverDevice), utf8FromWide(driverDevice)});
    }
    ::RegCloseKey(key);
    return ports;
}

} // namespace mub
