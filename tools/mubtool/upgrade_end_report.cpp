#include "tools/mubtool/upgrade_end_report.h"

#include "platform/gbk_text.h"
#include "platform/json_text.h"
#include "upgrade/program_version.h"

#include <cstdio>

namespace mub::tool {

std::string endReportLine(const UpgradeEndReport& r) {
    return "blocks: " + std::to_string(r.blocks) + " of " + std::to_string(r.blocksTotal) +
           ", time-outs: " + std::to_string(r.timeouts) + ", rejected blocks: " + std::to_string(r.rejectedBlocks);
}

std::string endReportJson(const UpgradeEndReport& r) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", r.elapsedSeconds);
    std::string json = r.port.empty() ? "{" : "{\"port\": " + jsonString(r.port) + ", ";
    json += "\"outcome\": " + jsonString(r.outcome) + ", \"exitCode\": " + std::to_string(r.exitCode) +
                       ", \"blocks\": " + std::to_string(r.blocks) + ", \"blocksTotal\": " + std::to_string(r.blocksTotal) +
                       ", \"timeouts\": " + std::to_string(r.timeouts) +
                       ", \"rejectedBlocks\": " + std::to_string(r.rejectedBlocks) + ", \"elapsedSeconds\": " + seconds;
    json += ", \"machine\": ";
    if (r.model.empty() && r.hardware.empty() && r.software.empty()) {
        json += "null";
    } else {
        json += "{\"model\": " + jsonString(utf8(r.model)) + ", \"hardware\": " + jsonString(utf8(r.hardware)) +
                ", \"software\": " + jsonString(utf8(r.software)) + "}";
    }
    if (r.transferSeconds > 0) {
        std::snprintf(seconds, sizeof seconds, "%.3f", r.transferSeconds);
        json += std::string(", \"transferSeconds\": ") + seconds;
    }
    if (r.softwareAfter)
        json += ", \"softwareAfter\": " + (r.softwareAfter->empty() ? std::string("null") : jsonString(utf8(*r.softwareAfter)));
    if (!r.recordId.empty()) json += ", \"recordId\": " + jsonString(r.recordId);
    // Which build did the run: the same text as the upgrade log's.
    return json + ", \"programVersion\": " + jsonString(programVersion()) + "}";
}

} // namespace mub::tool
