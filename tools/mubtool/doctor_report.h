// The report of `mubtool doctor`: what the self-check found on this
// computer, and its two forms, text for people (UTF-8) and one JSON object.
// The checks fill it (doctor_checks.h, doctor_system.h); nothing here looks
// at the system.
#pragma once

#include "tools/mubtool/library_header.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mub::tool {

struct SystemFacts {
    std::string name;    // "Linux", "Windows 10", "Windows 11"
    std::string version; // the kernel's release; major.minor.build.revision as the system tells it
    std::string detail;  // the distribution; the feature update, and Wine when it runs under Wine
    std::string machine; // the computer's processor: "x86_64"; "x64", "x86", "ARM64"
    int processBits = 0; // this program's width
    std::optional<bool> wow64; // Windows: a 32-bit program on 64-bit Windows; none on Linux
};

// The system timer's periods in milliseconds, as Windows tells them: the
// coarsest and the finest it can run at, and where it runs now (the finest
// that any program asks for).
struct TimerPeriods {
    double coarsest = 0, finest = 0, current = 0;
};

// Lengths of repeated waits, in milliseconds.
struct WaitFigures {
    int count = 0;
    double median = 0, p99 = 0, worst = 0;
};

// The median, the 99th percentile (the value that 99 % of the waits do not
// exceed) and the longest of `milliseconds`.
WaitFigures waitFigures(std::vector<double> milliseconds);

struct TimerFacts {
    std::optional<double> clockResolutionMs;    // Linux: clock_getres of the steady clock
    std::optional<TimerPeriods> periodsAtStart; // Windows: before the program's fine timer took effect
    std::optional<TimerPeriods> periodsNow;     // Windows: with it
    std::optional<bool> highResolutionTimer;    // Windows: a high-resolution waitable timer can be made
    std::string highResolutionNote;             // why not, or why the question does not arise
    WaitFigures pause;                          // 1 ms pauses as the link pauses
    WaitFigures sleep;                          // 1 ms sleeps of the wake wait alone
};

struct FolderFacts {
    std::string programFolder;
    bool programFolderWritable = false;
    bool perUserMarker = false; // the folder carries the package's settings-per-user
    std::string settingsFile;   // the cfg.ini the programs read
    bool settingsFileExists = false;
    std::string writeFolder;    // where the programs write cfg.ini and upgrades.csv
    bool writeFolderExists = false;
    bool writeFolderWritable = false; // when missing: whether it can be made
    std::string logFile;
    bool logFileExists = false;
};

enum class PortOpen {
    NotTried, // --no-open
    Opened,   // opened and closed again
    Busy,     // another program has it
    Denied,   // this user may not open it
    Missing,  // no device
    Failed,   // another refusal of the system
    TimedOut, // the open did not return within the bound; left to end on its own
};
const char* portOpenKey(PortOpen open); // "opened", "busy", ... for JSON

struct PortCheck {
    std::string port;    // "COM3"; empty when no COM number reaches it
    std::string device;  // /dev/ttyUSB0, \\.\COM12
    std::string driver;  // ftdi_sio, pty; the driver's device (\Device\VCP0)
    std::string adapter; // USB ids and product, "(bridge)"; "Bluetooth", "USB"
    bool present = true;
    std::vector<std::string> heldBy; // "1234 (minicom)": other programs that have it open
    std::string advice;  // what to do when it may not be opened ("join the group dialout")
    PortOpen open = PortOpen::NotTried;
    int errorCode = 0;
    std::string error;   // the system's text for errorCode (UTF-8)
    double milliseconds = 0; // the open and the close
    int boundMs = 0;     // the bound it was given
};

struct BridgeName {
    std::string function;   // MA101_ConnectBridge
    std::string exportedAs; // the name it was found under; empty when missing
    std::string misfit;     // when missing: a decorated name of other argument bytes it exports
};

struct BridgeCheck {
    std::string path;
    bool present = false;
    LibraryHeader header;
    int programBits = 0;
    bool loaded = false;
    std::string loadError;         // why the binding refused it
    std::vector<BridgeName> names; // when the system loaded it
    std::string convention;        // conventionName of the binding
    bool returned = true;          // false: loading or connecting did not return within boundMs
    std::string stuckIn;           // then: "loading" or "connecting"
    int boundMs = 0;
    bool connectTried = false;
    std::uint32_t connectStatus = 0;
};

struct DoctorReport {
    std::string programVersion;
    std::string computer;
    std::string time; // "2024-05-01 12:00:00 +08:00"
    SystemFacts system;
    TimerFacts timers;
    FolderFacts folders;
    std::string settingsForPorts; // the cfg.ini whose [Ports] named ports
    std::vector<PortCheck> ports;
    std::vector<std::string> portNotes; // services known to take serial ports
    BridgeCheck bridge;
};

// The report for people, lines ended with "\n".
std::string reportText(const DoctorReport& report);
// The report as one JSON object and a line end.
std::string reportJson(const DoctorReport& report);

// What the bridge library's connect status means, in a few words.
std::string connectStatusText(std::uint32_t status);

} // namespace mub::tool
