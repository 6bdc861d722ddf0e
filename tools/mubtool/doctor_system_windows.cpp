// The doctor's questions to Windows: the version from ntdll (GetVersionEx
// answers with the version the program's manifest names, not the
// system's), WOW64, the system timer's periods, the high-resolution
// waitable timer, the COM ports of SERIALCOMM.
#include "tools/mubtool/doctor_system.h"

#include "app/settings/port_overrides.h"
#include "platform/gbk_text.h"
#include "platform/serial_port_list.h"
#include "platform/serial_port_services.h"
#include "platform/wide_text_windows.h"
#include "serial/port_table.h"

#include <windows.h>

#include <algorithm>
#include <map>

namespace mub::tool {
namespace {

template <typename Fn>
Fn systemFunction(const wchar_t* module, const char* name) {
    HMODULE handle = ::GetModuleHandleW(module);
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(handle ? ::GetProcAddress(handle, name) : nullptr));
}

// NtQueryTimerResolution answers in units of 100 ns: the coarsest period
// ("minimum resolution"), the finest and the current one.
std::optional<TimerPeriods> timerPeriods() {
    using QueryFn = LONG(NTAPI*)(ULONG*, ULONG*, ULONG*);
    const auto query = systemFunction<QueryFn>(L"ntdll.dll", "NtQueryTimerResolution");
    ULONG coarsest = 0, finest = 0, current = 0;
    if (!query || query(&coarsest, &finest, &current) != 0) return std::nullopt;
    return TimerPeriods{coarsest / 1e4, finest / 1e4, current / 1e4};
}

// Taken before wmain runs, so before the entry's FineTimer asks for the
// finest period: what other programs left the system timer at.
const std::optional<TimerPeriods> periodsAtStart = timerPeriods();

std::string machineName(USHORT machine) {
    switch (machine) {
    case IMAGE_FILE_MACHINE_I386: return "x86";
    case IMAGE_FILE_MACHINE_AMD64: return "x64";
    case 0xAA64: return "ARM64";
    case 0x01C4: return "ARM";
    }
    return "machine " + std::to_string(machine);
}

std::string architectureName(WORD architecture) {
    switch (architecture) {
    case PROCESSOR_ARCHITECTURE_INTEL: return "x86";
    case PROCESSOR_ARCHITECTURE_AMD64: return "x64";
    case 12: return "ARM64"; // PROCESSOR_ARCHITECTURE_ARM64
    }
    return "architecture " + std::to_string(architecture);
}

// A value of the system's own CurrentVersion key (the 64-bit view also from
// a 32-bit program).
HKEY currentVersionKey() {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                        KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

std::string registryText(HKEY key, const wchar_t* name) {
    wchar_t value[128] = {};
    DWORD bytes = sizeof value - sizeof(wchar_t);
    DWORD type = 0;
    if (!key || ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes) != ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    return utf8FromWide(std::wstring_view(value, wcsnlen(value, bytes / sizeof(wchar_t))));
}

std::optional<DWORD> registryNumber(HKEY key, const wchar_t* name) {
    DWORD value = 0, bytes = sizeof value, type = 0;
    if (!key || ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return std::nullopt;
    return value;
}

std::string windowsName(const OSVERSIONINFOEXW& v) {
    if (v.wProductType != VER_NT_WORKSTATION) return "Windows Server";
    if (v.dwMajorVersion == 10) return v.dwBuildNumber >= 22000 ? "Windows 11" : "Windows 10";
    if (v.dwMajorVersion == 6 && v.dwMinorVersion == 1) return "Windows 7";
    if (v.dwMajorVersion == 6 && v.dwMinorVersion == 2) return "Windows 8";
    if (v.dwMajorVersion == 6 && v.dwMinorVersion == 3) return "Windows 8.1";
    return "Windows";
}

std::string appended(std::string text, const std::string& more) {
    if (more.empty()) return text;
    return text.empty() ? more : text + ", " + more;
}

} // namespace

SystemFacts systemFacts() {
    SystemFacts facts;
    facts.name = "Windows";
    OSVERSIONINFOEXW v{};
    v.dwOSVersionInfoSize = sizeof v;
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    const auto getVersion = systemFunction<RtlGetVersionFn>(L"ntdll.dll", "RtlGetVersion");
    if (getVersion && getVersion(&v) == 0) {
        facts.name = windowsName(v);
        facts.version = std::to_string(v.dwMajorVersion) + "." + std::to_string(v.dwMinorVersion) + "." +
                        std::to_string(v.dwBuildNumber);
    }
    HKEY key = currentVersionKey();
    if (const auto revision = registryNumber(key, L"UBR"); revision && !facts.version.empty())
        facts.version += "." + std::to_string(*revision);
    std::string release = registryText(key, L"DisplayVersion");
    if (release.empty()) release = registryText(key, L"ReleaseId");
    if (key) ::RegCloseKey(key);
    facts.detail = appended(release, utf8FromWide(v.szCSDVersion));
    using WineVersionFn = const char*(CDECL*)();
    if (const auto wine = systemFunction<WineVersionFn>(L"ntdll.dll", "wine_get_version"))
        facts.detail = appended(facts.detail, std::string("under Wine ") + wine());

    facts.processBits = static_cast<int>(sizeof(void*) * 8);
    using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    USHORT processMachine = 0, nativeMachine = 0;
    const auto isWow64Process2 = systemFunction<IsWow64Process2Fn>(L"kernel32.dll", "IsWow64Process2");
    if (isWow64Process2 && isWow64Process2(::GetCurrentProcess(), &processMachine, &nativeMachine)) {
        // IMAGE_FILE_MACHINE_UNKNOWN: the program runs natively.
        facts.wow64 = processMachine != 0;
        facts.machine = machineName(nativeMachine);
    } else {
        // Before Windows 10 1511.
        BOOL wow64 = FALSE;
        facts.wow64 = ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
        SYSTEM_INFO info{};
        ::GetNativeSystemInfo(&info);
        facts.machine = architectureName(info.wProcessorArchitecture);
    }
    return facts;
}

TimerFacts systemTimerFacts() {
    TimerFacts facts;
    facts.periodsAtStart = periodsAtStart;
    facts.periodsNow = timerPeriods();
    // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION (Windows 10 1803 and later); an
    // older system refuses the flag.
    constexpr DWORD highResolution = 0x00000002;
    HANDLE timer = ::CreateWaitableTimerExW(nullptr, nullptr, highResolution, TIMER_ALL_ACCESS);
    facts.highResolutionTimer = timer != nullptr;
    if (timer) {
        ::CloseHandle(timer);
    } else {
        const DWORD code = ::GetLastError();
        facts.highResolutionNote = "error " + std::to_string(code) + ": " + utf8(systemErrorText(code)) +
                                   "; waits use whole milliseconds of the system timer";
    }
    return facts;
}

std::vector<PortCheck> listPorts(const std::vector<std::string>& extra, const std::string& settingsPath) {
    PortTable table;
    std::map<int, ListedSerialPort> numbers;
    for (const ListedSerialPort& port : listedSerialPorts()) numbers.emplace(port.number, port);
    for (const auto& [number, device] : readPortOverrides(settingsPath)) {
        table.setOverride(number, device);
        if (!device.empty()) numbers.emplace(number, ListedSerialPort{number});
    }
    std::vector<std::string> paths;
    for (const std::string& port : extra) {
        if (const int number = comNumberOf(port)) numbers.emplace(number, ListedSerialPort{number});
        else paths.push_back(port);
    }
    std::vector<PortCheck> ports;
    for (const auto& [number, listed] : numbers) {
        PortCheck p;
        p.port = "COM" + std::to_string(number);
        p.device = table.devicePath(number);
        p.driver = listed.device;
        p.adapter = listed.bluetooth ? "Bluetooth" : listed.usb ? "USB" : "";
        ports.push_back(std::move(p));
    }
    for (const std::string& path : paths) {
        PortCheck p;
        p.device = path;
        ports.push_back(std::move(p));
    }
    return ports;
}

std::vector<std::string> portNotes() { return {}; }

bool mayOpen(PortCheck&) { return true; }

PortOpen openOutcomeOf(int code) {
    switch (code) {
    case 0: return PortOpen::Opened;
    // A COM port opened by another program refuses every other open.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return PortOpen::Busy;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return PortOpen::Missing;
    }
    return PortOpen::Failed;
}

std::string openErrorText(int code) { return utf8(systemErrorText(static_cast<unsigned long>(code))); }

std::optional<std::vector<std::uint8_t>> readFileStart(const std::string& path, std::size_t size) {
    HANDLE file = ::CreateFileW(wideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<std::uint8_t> bytes(size);
    DWORD got = 0;
    const BOOL read = ::ReadFile(file, bytes.data(), static_cast<DWORD>(size), &got, nullptr);
    ::CloseHandle(file);
    if (!read) return std::nullopt;
    bytes.resize(got);
    return bytes;
}

void* loadedLibrary(const std::string& path) {
    std::string systemPath = path;
    std::replace(systemPath.begin(), systemPath.end(), '/', '\\');
    // No system box for a missing dependency.
    DWORD previousMode = 0;
    const bool quiet = ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode) != FALSE;
    HMODULE library = ::LoadLibraryW(wideFromUtf8(systemPath).c_str());
    if (quiet) ::SetThreadErrorMode(previousMode, nullptr);
    return library;
}

void* librarySymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

std::string reportFileBytes(const std::string& utf8Text, bool json) {
    std::string text;
    char last = 0;
    for (const char c : utf8Text) {
        if (c == '\n' && last != '\r') text += '\r';
        text += c;
        last = c;
    }
    return json ? text : gbk(text);
}

} // namespace mub::tool
