// mubtool doctor: a self-check of the computer a line engineer runs and sends
// back: the program and the system, the timers, the settings and log
// folders, the serial ports and the bridge library. Prints the report and
// writes it to a file.
#include "app/settings/settings_file.h"
#include "app/settings/settings_location.h"
#include "link/bridge_binding.h"
#include "platform/host_facts.h"
#include "tools/mubtool/command.h"
#include "tools/mubtool/doctor_checks.h"
#include "tools/mubtool/doctor_system.h"
#include "tools/mubtool/upgrade_file_io.h"
#include "upgrade/program_version.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace mub::tool {
namespace {

constexpr const char* doctorUsage =
    "usage: mubtool doctor [--out FILE] [--json] [--port PORT]... [--no-open]\n"
    "\n"
    "Checks this computer for the upgrade programs, prints the report and writes\n"
    "it to doctor-COMPUTER-YYYYMMDD-HHMMSS.txt (.json with --json) in the current\n"
    "folder, to send back to whoever supports the line:\n"
    "  system    the program's version, the system and its version, 32- or\n"
    "            64-bit (on Windows: under WOW64 or not)\n"
    "  timers    the system timer's resolution (on Windows before and with the\n"
    "            program's 1 ms timer period), the high-resolution waitable\n"
    "            timer, and 200 waits of 1 ms measured (median, p99, worst):\n"
    "            the link's pause (a sleep, the last fraction watched on the\n"
    "            clock) and the sleep alone\n"
    "  folders   the program folder, cfg.ini and upgrades.csv, and whether\n"
    "            their folders can be written\n"
    "  ports     every serial port with its driver, and whether it opens and\n"
    "            closes within 2 s\n"
    "  bridge    the bridge library beside the program: present, 32- or 64-bit,\n"
    "            its functions' names, the calling convention and a connect\n"
    "            attempt's status\n"
    "\n"
    "It writes nothing but the report: a folder is found writable by creating\n"
    "and removing a probe file in it (on Windows; Linux asks the system), and\n"
    "cfg.ini, upgrades.csv and their folders are neither made nor changed.\n"
    "Each port is opened for this program alone and closed at once, one at a\n"
    "time (opening raises its modem lines, as any program's open does); a port\n"
    "another program holds is reported busy, never taken. A port whose open\n"
    "does not return within 2 s (a Bluetooth port connecting) is reported so\n"
    "and left behind; the check goes on.\n"
    "\n"
    "options (also as --name=VALUE):\n"
    "  --out FILE   write the report to FILE instead (replaced when it exists)\n"
    "  --json       the report as one JSON object, printed and written\n"
    "  --port PORT  also check PORT: COMn, or a device path (a pseudo-terminal\n"
    "               or an adapter the system does not list); may be repeated\n"
    "  --no-open    list the ports without opening any\n"
    "\n"
    "exit codes:\n"
    "  0  the report was written\n"
    "  1  usage error\n"
    "  4  the report cannot be written (it is still printed; as every command\n"
    "     ends a file failure)\n";

constexpr auto portBound = std::chrono::seconds(2);
constexpr auto bridgeBound = std::chrono::seconds(5);
constexpr int timedWaits = 200;

struct DoctorArgs {
    std::string out;
    bool json = false;
    bool open = true;
    std::vector<std::string> ports;
};

// A usage error's text, or none.
std::optional<std::string> parseArgs(const std::vector<std::string>& args, DoctorArgs& out) {
    for (std::size_t k = 0; k < args.size(); ++k) {
        std::string arg = args[k];
        std::optional<std::string> value;
        if (const std::size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
        }
        if (arg == "--json" || arg == "--no-open") {
            if (value) return arg + " takes no value";
            if (arg == "--json") out.json = true;
            else out.open = false;
            continue;
        }
        if (arg != "--out" && arg != "--port") return "unexpected '" + args[k] + "'";
        if (!value) {
            if (k + 1 >= args.size()) return "missing value for " + arg;
            value = args[++k];
        }
        if (value->empty()) return arg + " needs a value";
        if (arg == "--port") {
            out.ports.push_back(*value);
        } else {
            if (!out.out.empty()) return "--out given twice";
            out.out = *value;
        }
    }
    return std::nullopt;
}

// The computer's name as a part of a file name: characters that no file
// name may hold become '_'.
std::string fileNamePart(const std::string& name) {
    std::string part;
    for (const char c : name) part += std::string_view("\\/:*?\"<>| ").find(c) == std::string_view::npos && c >= 0x20 ? c : '_';
    return part.empty() ? "computer" : part;
}

std::string twoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

std::string defaultReportName(const std::string& computer, const std::tm& t, bool json) {
    return "doctor-" + fileNamePart(computer) + "-" + std::to_string(t.tm_year + 1900) + twoDigits(t.tm_mon + 1) +
           twoDigits(t.tm_mday) + "-" + twoDigits(t.tm_hour) + twoDigits(t.tm_min) + twoDigits(t.tm_sec) +
           (json ? ".json" : ".txt");
}

std::string timeText(const LocalTime& now) {
    const std::tm& t = now.fields;
    const long offset = now.utcOffsetSeconds < 0 ? -now.utcOffsetSeconds : now.utcOffsetSeconds;
    return std::to_string(t.tm_year + 1900) + "-" + twoDigits(t.tm_mon + 1) + "-" + twoDigits(t.tm_mday) + " " +
           twoDigits(t.tm_hour) + ":" + twoDigits(t.tm_min) + ":" + twoDigits(t.tm_sec) + " " +
           (now.utcOffsetSeconds < 0 ? "-" : "+") + twoDigits(static_cast<int>(offset / 3600)) + ":" +
           twoDigits(static_cast<int>(offset % 3600 / 60));
}

DoctorReport examine(const DoctorArgs& args, const LocalTime& now) {
    DoctorReport report;
    report.programVersion = programVersion();
    report.computer = computerName();
    report.time = timeText(now);
    report.system = systemFacts();
    report.timers = systemTimerFacts();
    measureTimerWaits(report.timers, timedWaits);

    const std::string programDir = programFolder();
    report.folders = folderFacts(programDir);
    report.settingsForPorts = report.folders.settingsFile;
    report.ports = listPorts(args.ports, report.settingsForPorts);
    report.portNotes = portNotes();
    for (PortCheck& port : report.ports) {
        if (!args.open || !mayOpen(port)) continue;
        checkPortOpen(port, openAndClose, portBound);
    }
    report.bridge = checkBridgeLibrary(defaultBridgeLibraryPath(), bridgeBound);
    return report;
}

int runDoctor(const std::vector<std::string>& args) {
    if (std::find(args.begin(), args.end(), "--help") != args.end() || std::find(args.begin(), args.end(), "-h") != args.end()) {
        std::fputs(doctorUsage, stdout);
        return ExitOk;
    }
    DoctorArgs options;
    if (const auto error = parseArgs(args, options)) return usageError("doctor", *error);

    const LocalTime now = localTimeNow();
    const DoctorReport report = examine(options, now);
    const std::string text = options.json ? reportJson(report) : reportText(report);
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);

    const std::string path = options.out.empty() ? defaultReportName(report.computer, now.fields, options.json) : options.out;
    const std::string bytes = reportFileBytes(text, options.json);
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    if (const auto error = writeWholeFile(path, std::span<const std::uint8_t>(data, bytes.size()))) {
        std::fprintf(stderr, "mubtool doctor: cannot write the report to %s: %s\n", path.c_str(), error->c_str());
        return ExitFileFailure;
    }
    std::fprintf(stderr, "report written to %s\n", path.c_str());
    return ExitOk;
}

MubtoolCommand doctorCommand("doctor", "check this computer for the upgrade programs and write a report to send back",
                             &runDoctor);

} // namespace
} // namespace mub::tool
