// The upgrade log, upgrades.csv: one line per upgrade or model check, from
// the window and from mubtool, for tracing which machine got which file,
// when, where and with what result. A spreadsheet opens it: UTF-8 with a
// byte-order mark (written when the file is made), a header line, fields
// quoted as CSV requires, lines ended with CR LF.
//
// Each line is one append under a lock that every writer takes, flushed to
// the disk before append() returns: lines of several ports or programs never
// interleave, and a program killed at any moment leaves only whole lines. A
// log that cannot be written never stops an upgrade: append() says so once,
// for the operator, and keeps the line to write in front of the next one.
#pragma once

#include "link/connect_machine.h"
#include "platform/host_facts.h"
#include "upgrade/program_version.h"
#include "upgrade/record_id.h"
#include "upgrade_file/upgrade_file.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace mub {

inline constexpr const char* upgradeLogFileName = "upgrades.csv";

// `folder` + "/upgrades.csv".
std::string upgradeLogPathIn(const std::string& folder);
// upgrades.csv beside the settings file `settingsPath` (cfg.ini).
std::string upgradeLogPathBeside(const std::string& settingsPath);

struct UpgradeLogEntry {
    std::string program;  // "upgrader", "mubtool upgrade", "mubtool detect", "mubtool station"
    std::string port;     // "COM3", "USB", a device path (UTF-8)
    std::string file;     // the upgrade file's path (UTF-8); empty for a model check
    std::string fileMd5;  // of the file's bytes, lowercase hexadecimal; empty for a model check
    std::string imageMd5; // of the decoded image
    // The machine's identity as it reported it before the upgrade (GBK), and
    // its software version after it when that was checked.
    std::string model, hardware, softwareBefore, softwareAfter;
    std::string outcome; // upgrade_ending.h: "completed", "model-mismatch", "identified", ...
    int exitCode = 0;
    std::uint32_t blocksDone = 0, blocksTotal = 0, timeouts = 0, rejectedBlocks = 0;
    double seconds = 0;
    // The build that made the line (program_version.h).
    std::string programVersion = mub::programVersion();
    // A new id for each entry; a copy of an entry (its second line) keeps it.
    std::string recordId = newRecordId();
};

// Fills the file's columns of `entry` (path, the two digests, the blocks
// of its image) from a loaded upgrade file whose path is `utf8Path`.
void describeFile(UpgradeLogEntry& entry, const std::string& utf8Path, const UpgradeFile& file);
// Fills the machine's columns from its identity; nothing when it was not
// identified.
void describeMachine(UpgradeLogEntry& entry, const std::optional<MachineInfo>& machine);

// The header line and one entry's line, each ending in CR LF.
std::string upgradeLogHeader();
std::string upgradeLogLine(const UpgradeLogEntry& entry, const LocalTime& time, const std::string& computer);

// A text as one CSV field: quoted, inner quotes doubled, control characters
// as \xNN so that every record is one line, and a text a spreadsheet would
// take for a formula (=, +, -, @ in front, not a number) led by an apostrophe.
std::string csvField(const std::string& utf8Text);

class UpgradeLog {
public:
    explicit UpgradeLog(std::string path);
    const std::string& path() const { return path_; }

    struct Result {
        bool written = false; // the line (and any kept before it) is in the file
        // Set the first time the log cannot be written (or not flushed):
        // why, for the operator (UTF-8). Later failures leave it empty, so
        // the operator is told once.
        std::optional<std::string> firstFailure;
    };

    // Appends the entry's line, stamped with the local time and this
    // computer's name. Safe from several threads at once.
    Result append(const UpgradeLogEntry& entry);

    // Lines kept because they could not be written yet.
    std::size_t pendingLines() const;

    // Called after each append that wrote its lines (the records sender is
    // woken so). Set it before the first append; it must not block.
    void onWritten(std::function<void()> listener) { onWritten_ = std::move(listener); }

private:
    static constexpr std::size_t pendingLimit = 10000;

    mutable std::mutex lock_;
    std::string path_;
    std::vector<std::string> pending_;
    bool told_ = false;
    std::function<void()> onWritten_;
};

} // namespace mub
