#include "tools/mubtool/doctor_report.h"

#include "platform/bridge_library.h"
#include "platform/json_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace mub::tool {
namespace {

std::string fixed(double value, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::string joined(const std::vector<std::string>& items, const char* separator) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
    return text;
}

// "label: value" lines with the values in one column.
class Lines {
public:
    void add(std::string label, std::string value) { rows_.push_back({std::move(label), std::move(value)}); }
    std::string str() const {
        std::size_t width = 0;
        for (const auto& row : rows_) width = std::max(width, row.first.size());
        std::string text;
        for (const auto& row : rows_) text += row.first + ":" + std::string(width + 2 - row.first.size(), ' ') + row.second + "\n";
        return text;
    }

private:
    std::vector<std::pair<std::string, std::string>> rows_;
};

std::string heading(const char* title) { return std::string("\n== ") + title + " ==\n"; }

std::string waitText(const WaitFigures& w) {
    if (w.count == 0) return "not measured";
    return "median " + fixed(w.median, 3) + " ms, p99 " + fixed(w.p99, 3) + " ms, worst " + fixed(w.worst, 3) +
           " ms (" + std::to_string(w.count) + " waits)";
}

std::string periodsText(const TimerPeriods& p) {
    return fixed(p.current, 3) + " ms (finest " + fixed(p.finest, 3) + ", coarsest " + fixed(p.coarsest, 3) + ")";
}

std::string systemSection(const DoctorReport& r) {
    Lines lines;
    const SystemFacts& s = r.system;
    lines.add("system", s.name + " " + s.version + (s.detail.empty() ? "" : " (" + s.detail + ")"));
    lines.add("processor", s.machine.empty() ? "unknown" : s.machine);
    std::string process = std::to_string(s.processBits) + "-bit";
    if (s.wow64) process += *s.wow64 ? ", under WOW64 (a 32-bit program on 64-bit Windows)" : ", not under WOW64";
    lines.add("this program", process);
    return heading("system") + lines.str();
}

std::string timersSection(const TimerFacts& t) {
    Lines lines;
    if (t.clockResolutionMs) lines.add("clock resolution", fixed(*t.clockResolutionMs, 6) + " ms (clock_getres, steady clock)");
    if (t.periodsAtStart) lines.add("timer period at start", periodsText(*t.periodsAtStart));
    if (t.periodsNow) lines.add("timer period now", periodsText(*t.periodsNow) + ", with the program's fine timer");
    std::string highResolution = !t.highResolutionTimer ? "not applicable" : *t.highResolutionTimer ? "yes" : "no";
    if (!t.highResolutionNote.empty()) highResolution += " (" + t.highResolutionNote + ")";
    lines.add("high-resolution waitable timer", highResolution);
    lines.add("1 ms pause, as the link pauses", waitText(t.pause));
    lines.add("1 ms sleep of the wake wait alone", waitText(t.sleep));
    return heading("timers") + lines.str();
}

std::string folderState(bool exists, bool writable) {
    if (!exists) return writable ? "missing, can be made (at the first start)" : "missing, and cannot be made";
    return writable ? "writable" : "NOT writable";
}

std::string foldersSection(const FolderFacts& f) {
    Lines lines;
    lines.add("program folder", f.programFolder + " (" + (f.programFolderWritable ? "writable" : "not writable") +
                                    (f.perUserMarker ? ", marked settings-per-user" : "") + ")");
    lines.add("settings file", f.settingsFile + (f.settingsFileExists ? " (exists)" : " (not made yet)"));
    lines.add("settings and log folder", f.writeFolder + " (" + folderState(f.writeFolderExists, f.writeFolderWritable) + ")");
    lines.add("upgrade log", f.logFile + (f.logFileExists ? " (exists)" : " (not made yet)"));
    return heading("folders") + lines.str();
}

std::string openText(const PortCheck& p) {
    const std::string code = p.errorCode ? "error " + std::to_string(p.errorCode) + (p.error.empty() ? "" : ": " + p.error) : p.error;
    const std::string held = p.heldBy.empty() ? "" : "held by " + joined(p.heldBy, ", ");
    std::string text;
    switch (p.open) {
    case PortOpen::NotTried: text = "not tried (--no-open)"; break;
    case PortOpen::Opened:
        text = "opened and closed in " + fixed(p.milliseconds, 2) + " ms";
        if (!held.empty()) text += "; also open in " + joined(p.heldBy, ", ");
        return text;
    case PortOpen::Busy: text = "busy, not opened"; break;
    case PortOpen::Denied: text = "denied"; break;
    case PortOpen::Missing: text = "missing"; break;
    case PortOpen::Failed: text = "failed"; break;
    case PortOpen::TimedOut:
        return "did not open within " + fixed(p.boundMs / 1000.0, p.boundMs % 1000 ? 1 : 0) +
               " s (left to finish on its own)";
    }
    for (const std::string& part : {held, code, p.advice})
        if (!part.empty()) text += ": " + part;
    return text;
}

std::string portsSection(const DoctorReport& r) {
    std::string text = heading("serial ports");
    if (r.ports.empty()) text += "no serial ports\n";
    std::vector<std::vector<std::string>> rows{{"PORT", "DEVICE", "DRIVER", "ADAPTER", "OPEN"}};
    for (const PortCheck& p : r.ports)
        rows.push_back({p.port.empty() ? "-" : p.port, p.device, p.driver.empty() ? "-" : p.driver,
                        p.adapter.empty() ? "-" : p.adapter, openText(p)});
    std::size_t width[4] = {};
    for (const auto& row : rows)
        for (int k = 0; k < 4; ++k) width[k] = std::max(width[k], row[k].size());
    for (std::size_t i = r.ports.empty() ? rows.size() : 0; i < rows.size(); ++i) {
        for (int k = 0; k < 4; ++k) text += rows[i][k] + std::string(width[k] + 2 - rows[i][k].size(), ' ');
        text += rows[i][4] + "\n";
    }
    text += "ports from the settings: " + r.settingsForPorts + "\n";
    for (const std::string& note : r.portNotes) text += "note: " + note + "\n";
    return text;
}

std::string namesText(const std::vector<BridgeName>& names) {
    std::vector<std::string> parts;
    for (const BridgeName& n : names) {
        if (n.exportedAs.empty())
            parts.push_back(n.function + " MISSING" + (n.misfit.empty() ? "" : " (exports " + n.misfit + ")"));
        else
            parts.push_back(n.exportedAs);
    }
    return joined(parts, ", ");
}

std::string bridgeSection(const BridgeCheck& b) {
    Lines lines;
    lines.add("file", b.path);
    if (!b.present) {
        lines.add("present", "no");
        return heading("bridge library") + lines.str();
    }
    std::string kind = libraryHeaderText(b.header);
    if (b.header.bits)
        kind += b.header.bits == b.programBits ? ": fits this " + std::to_string(b.programBits) + "-bit program"
                                               : ": NOT for this " + std::to_string(b.programBits) + "-bit program";
    lines.add("present", "yes, " + kind);
    if (!b.names.empty()) lines.add("functions", namesText(b.names));
    if (!b.returned) {
        lines.add("result", "the library did not return within " + std::to_string(b.boundMs / 1000) + " s while " +
                                b.stuckIn + " (left to finish on its own)");
        return heading("bridge library") + lines.str();
    }
    lines.add("loaded", b.loaded ? "yes" : "no: " + b.loadError);
    if (!b.convention.empty())
        lines.add("calling convention", b.convention + (b.convention == "the platform's own" && b.programBits == 64
                                                            ? " (64-bit programs have one convention)"
                                                            : ""));
    if (b.connectTried) lines.add("connect attempt", "status " + hex32(b.connectStatus) + ": " + connectStatusText(b.connectStatus));
    return heading("bridge library") + lines.str();
}

std::string jsonNumber(double value, int decimals) { return fixed(value, decimals); }

std::string waitJson(const WaitFigures& w) {
    return JsonObject()
        .number("count", w.count)
        .raw("medianMs", jsonNumber(w.median, 3))
        .raw("p99Ms", jsonNumber(w.p99, 3))
        .raw("worstMs", jsonNumber(w.worst, 3))
        .str();
}

std::string periodsJson(const std::optional<TimerPeriods>& p) {
    if (!p) return "null";
    return JsonObject()
        .raw("currentMs", jsonNumber(p->current, 4))
        .raw("finestMs", jsonNumber(p->finest, 4))
        .raw("coarsestMs", jsonNumber(p->coarsest, 4))
        .str();
}

std::string optionalBool(const std::optional<bool>& value) { return !value ? "null" : *value ? "true" : "false"; }

std::string textOrNull(const std::string& text) { return text.empty() ? "null" : jsonString(text); }

std::string portJson(const PortCheck& p) {
    std::vector<std::string> held;
    for (const std::string& h : p.heldBy) held.push_back(jsonString(h));
    JsonObject object;
    object.raw("port", textOrNull(p.port))
        .text("device", p.device)
        .raw("driver", textOrNull(p.driver))
        .raw("adapter", textOrNull(p.adapter))
        .boolean("present", p.present)
        .raw("heldBy", jsonArray(held))
        .text("open", portOpenKey(p.open))
        .raw("openMs", p.open == PortOpen::Opened ? jsonNumber(p.milliseconds, 2) : "null")
        .number("boundMs", p.boundMs)
        .raw("errorCode", p.errorCode ? std::to_string(p.errorCode) : "null")
        .raw("error", textOrNull(p.error))
        .raw("advice", textOrNull(p.advice));
    return object.str();
}

std::string bridgeJson(const BridgeCheck& b) {
    JsonObject object;
    object.text("path", b.path).boolean("present", b.present);
    if (b.present) {
        const char* format = b.header.format == LibraryHeader::Format::Pe    ? "pe"
                             : b.header.format == LibraryHeader::Format::Elf ? "elf"
                                                                             : "unknown";
        object.text("format", format)
            .raw("bits", b.header.bits ? std::to_string(b.header.bits) : "null")
            .raw("machine", textOrNull(b.header.machineName));
    }
    object.number("programBits", b.programBits);
    std::vector<std::string> names;
    for (const BridgeName& n : b.names)
        names.push_back(JsonObject()
                            .text("function", n.function)
                            .raw("exportedAs", textOrNull(n.exportedAs))
                            .raw("misfit", textOrNull(n.misfit))
                            .str());
    object.raw("functions", jsonArray(names))
        .boolean("returned", b.returned)
        .raw("stuckIn", textOrNull(b.stuckIn))
        .boolean("loaded", b.loaded)
        .raw("loadError", textOrNull(b.loadError))
        .raw("convention", textOrNull(b.convention))
        .raw("connectStatus", b.connectTried ? std::to_string(b.connectStatus) : "null")
        .raw("connectResult", b.connectTried ? jsonString(connectStatusText(b.connectStatus)) : "null");
    return object.str();
}

} // namespace

WaitFigures waitFigures(std::vector<double> milliseconds) {
    WaitFigures figures;
    if (milliseconds.empty()) return figures;
    std::sort(milliseconds.begin(), milliseconds.end());
    const std::size_t n = milliseconds.size();
    figures.count = static_cast<int>(n);
    figures.median = n % 2 ? milliseconds[n / 2] : (milliseconds[n / 2 - 1] + milliseconds[n / 2]) / 2;
    // The smallest value that at least 99 % of the waits do not exceed.
    const auto rank = static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(n)));
    figures.p99 = milliseconds[std::max<std::size_t>(rank, 1) - 1];
    figures.worst = milliseconds.back();
    return figures;
}

const char* portOpenKey(PortOpen open) {
    switch (open) {
    case PortOpen::NotTried: return "not-tried";
    case PortOpen::Opened: return "opened";
    case PortOpen::Busy: return "busy";
    case PortOpen::Denied: return "denied";
    case PortOpen::Missing: return "missing";
    case PortOpen::Failed: return "failed";
    case PortOpen::TimedOut: return "timed-out";
    }
    return "failed";
}

std::string connectStatusText(std::uint32_t status) {
    switch (status) {
    case StatusOk: return "connected: a bridge answered (disconnected again)";
    case StatusNoDevice: return "no bridge found (none plugged in, or its driver is missing)";
    case StatusDeviceBusy: return "busy: another program uses the bridge, or more than one is plugged in";
    }
    return "another status of the library";
}

std::string reportText(const DoctorReport& r) {
    Lines head;
    head.add("program", "mubtool " + r.programVersion);
    head.add("computer", r.computer.empty() ? "unknown" : r.computer);
    head.add("time", r.time);
    return "mubtool doctor: a self-check of this computer for the upgrade programs\n" + head.str() + systemSection(r) +
           timersSection(r.timers) + foldersSection(r.folders) + portsSection(r) + bridgeSection(r.bridge);
}

std::string reportJson(const DoctorReport& r) {
    const SystemFacts& s = r.system;
    const TimerFacts& t = r.timers;
    const FolderFacts& f = r.folders;
    std::vector<std::string> ports, notes;
    for (const PortCheck& p : r.ports) ports.push_back(portJson(p));
    for (const std::string& note : r.portNotes) notes.push_back(jsonString(note));
    JsonObject object;
    object.text("programVersion", r.programVersion)
        .text("computer", r.computer)
        .text("time", r.time)
        .raw("system", JsonObject()
                           .text("name", s.name)
                           .text("version", s.version)
                           .text("detail", s.detail)
                           .text("machine", s.machine)
                           .number("processBits", s.processBits)
                           .raw("wow64", optionalBool(s.wow64))
                           .str())
        .raw("timers", JsonObject()
                           .raw("clockResolutionMs", t.clockResolutionMs ? jsonNumber(*t.clockResolutionMs, 6) : "null")
                           .raw("periodsAtStart", periodsJson(t.periodsAtStart))
                           .raw("periodsNow", periodsJson(t.periodsNow))
                           .raw("highResolutionTimer", optionalBool(t.highResolutionTimer))
                           .raw("highResolutionNote", textOrNull(t.highResolutionNote))
                           .raw("pause1ms", waitJson(t.pause))
                           .raw("sleep1ms", waitJson(t.sleep))
                           .str())
        .raw("folders", JsonObject()
                            .text("programFolder", f.programFolder)
                            .boolean("programFolderWritable", f.programFolderWritable)
                            .boolean("settingsPerUser", f.perUserMarker)
                            .text("settingsFile", f.settingsFile)
                            .boolean("settingsFileExists", f.settingsFileExists)
                            .text("writeFolder", f.writeFolder)
                            .boolean("writeFolderExists", f.writeFolderExists)
                            .boolean("writeFolderWritable", f.writeFolderWritable)
                            .text("logFile", f.logFile)
                            .boolean("logFileExists", f.logFileExists)
                            .str())
        .text("portsSettings", r.settingsForPorts)
        .raw("ports", jsonArray(ports))
        .raw("portNotes", jsonArray(notes))
        .raw("bridge", bridgeJson(r.bridge));
    return object.str() + "\n";
}

} // namespace mub::tool
