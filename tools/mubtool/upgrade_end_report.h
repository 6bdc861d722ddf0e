// How `mubtool upgrade` ends its report: a line for people with the counts a
// script may want to flag (time-outs and rejected blocks mean a block may
// have been stored twice), and with --json one JSON object for scripts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace mub::tool {

struct UpgradeEndReport {
    std::string outcome; // "completed", "stopped", "link-lost", ...
    int exitCode = 0;
    std::uint32_t blocks = 0;      // blocks the machine acknowledged
    std::uint32_t blocksTotal = 0; // blocks of the image
    std::uint32_t timeouts = 0;
    std::uint32_t rejectedBlocks = 0;
    double elapsedSeconds = 0; // the whole command, connecting included
    // The machine's identity (GBK), empty when it was not identified.
    std::string model, hardware, software;
    // A station's report also names its port, and in the second report of a
    // machine the software version it reported after the upgrade (empty: no
    // answer).
    std::string port;
    std::optional<std::string> softwareAfter;
    // The transfer alone, from the machine's "C" to the end mark; 0: none.
    double transferSeconds = 0;
    // The log line's record id (a station's reports), empty: not given.
    std::string recordId;
};

// "blocks: 8 of 8, time-outs: 0, rejected blocks: 0"
std::string endReportLine(const UpgradeEndReport& report);

// One line of JSON, texts in UTF-8, ending with the program's version.
std::string endReportJson(const UpgradeEndReport& report);

} // namespace mub::tool
