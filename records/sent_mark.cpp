#include "records/sent_mark.h"

#include "platform/profile_file_io.h"

#include <charconv>

namespace mub {

std::string sentMarkPath(const std::string& logPath) { return logPath + ".sent"; }

std::string sendLockPath(const std::string& logPath) { return logPath + ".send-lock"; }

std::uint64_t readSentMark(const std::string& logPath) {
    std::string text;
    if (readWholeProfile(sentMarkPath(logPath), text) != ProfileReadResult::Ok) return 0;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    std::uint64_t offset = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), offset);
    return error == std::errc() && end == text.data() + text.size() ? offset : 0;
}

bool writeSentMark(const std::string& logPath, std::uint64_t offset) {
    const std::string path = sentMarkPath(logPath);
    std::string old;
    const bool existed = readWholeProfile(path, old) != ProfileReadResult::Missing;
    return replaceProfile(path, std::to_string(offset) + "\n", existed);
}

} // namespace mub
