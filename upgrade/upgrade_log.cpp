#include "upgrade/upgrade_log.h"

#include "link/protocol.h"
#include "platform/append_file.h"
#include "platform/gbk_text.h"
#include "upgrade_file/md5.h"

#include <cstdio>
#include <cstdlib>

namespace mub {
namespace {

// UTF-8 byte-order mark: tells a spreadsheet the encoding of a .csv file.
constexpr const char* byteOrderMark = "\xEF\xBB\xBF";

bool readsAsNumber(const std::string& text) {
    if (text.empty()) return false;
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return end != nullptr && *end == '\0';
}

std::string timeText(const LocalTime& time) {
    const std::tm& t = time.fields;
    const long offset = time.utcOffsetSeconds;
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d%c%02ld:%02ld", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return text;
}

} // namespace

std::string upgradeLogPathIn(const std::string& folder) { return folder + "/" + upgradeLogFileName; }

std::string upgradeLogPathBeside(const std::string& settingsPath) {
    const std::size_t slash = settingsPath.find_last_of("/\\");
    return upgradeLogPathIn(slash == std::string::npos ? "." : settingsPath.substr(0, slash));
}

void describeFile(UpgradeLogEntry& entry, const std::string& utf8Path, const UpgradeFile& file) {
    entry.file = utf8Path;
    entry.fileMd5 = file.fileMd5;
    entry.imageMd5 = md5Hex(file.image);
    entry.blocksTotal = static_cast<std::uint32_t>(blocksFor(file.image.size()));
}

void describeMachine(UpgradeLogEntry& entry, const std::optional<MachineInfo>& machine) {
    if (!machine) return;
    entry.model = machine->model;
    entry.hardware = machine->hardware;
    entry.softwareBefore = machine->software;
}

std::string csvField(const std::string& utf8Text) {
    std::string field = "\"";
    const char lead = utf8Text.empty() ? '\0' : utf8Text[0];
    if ((lead == '=' || lead == '+' || lead == '-' || lead == '@') && !readsAsNumber(utf8Text)) field += '\'';
    for (const char c : utf8Text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"') {
            field += "\"\"";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            field += escaped;
        } else {
            field += c;
        }
    }
    return field + "\"";
}

std::string upgradeLogHeader() {
    return "time,computer,program,port,file,file_md5,image_md5,model,hardware,software_before,software_after,"
           "outcome,exit_code,blocks_done,blocks_total,timeouts,rejected_blocks,seconds,program_version,record_id\r\n";
}

std::string upgradeLogLine(const UpgradeLogEntry& e, const LocalTime& time, const std::string& computer) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", e.seconds);
    std::string line;
    for (const std::string& text :
         {timeText(time), computer, e.program, e.port, e.file, e.fileMd5, e.imageMd5, utf8(e.model), utf8(e.hardware),
          utf8(e.softwareBefore), utf8(e.softwareAfter), e.outcome})
        line += csvField(text) + ",";
    for (const long long number : {static_cast<long long>(e.exitCode), static_cast<long long>(e.blocksDone),
                                   static_cast<long long>(e.blocksTotal), static_cast<long long>(e.timeouts),
                                   static_cast<long long>(e.rejectedBlocks)})
        line += std::to_string(number) + ",";
    return line + seconds + "," + csvField(e.programVersion) + "," + csvField(e.recordId) + "\r\n";
}

UpgradeLog::UpgradeLog(std::string path) : path_(std::move(path)) {}

UpgradeLog::Result UpgradeLog::append(const UpgradeLogEntry& entry) {
    const std::string line = upgradeLogLine(entry, localTimeNow(), computerName());
    std::lock_guard<std::mutex> guard(lock_);
    std::string text;
    for (const std::string& kept : pending_) text += kept;
    text += line;
    std::string error;
    const AppendResult appended = appendToFile(path_, std::string(byteOrderMark) + upgradeLogHeader(), text, error);
    Result result;
    if (appended == AppendResult::Failed) {
        // Kept for the next append; beyond the limit the oldest go.
        if (pending_.size() >= pendingLimit) pending_.erase(pending_.begin());
        pending_.push_back(line);
    } else {
        pending_.clear();
        result.written = true;
    }
    if (appended != AppendResult::Appended && !told_) {
        told_ = true;
        result.firstFailure = error;
    }
    if (result.written && onWritten_) onWritten_();
    return result;
}

std::size_t UpgradeLog::pendingLines() const {
    std::lock_guard<std::mutex> guard(lock_);
    return pending_.size();
}

} // namespace mub
