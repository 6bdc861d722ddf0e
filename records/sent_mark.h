// What the records sender keeps beside the upgrade log (upgrades.csv):
//   upgrades.csv.sent       the byte offset in the log up to which its
//                           lines were acknowledged by the collector
//                           (decimal text, one line), replaced through a
//                           renamed temporary file after each answer
//   upgrades.csv.send-lock  locked while a program reads a stretch of the
//                           log, sends it and writes the offset, so that two
//                           programs never send the same stretch at once
//                           (a file of its own: a slow network must never
//                           hold up the log's appends)
#pragma once

#include <cstdint>
#include <string>

namespace mub {

std::string sentMarkPath(const std::string& logPath);
std::string sendLockPath(const std::string& logPath);

// The offset; 0 when there is no mark yet (or one that is not a number:
// the log is then sent again, which the record ids make harmless).
std::uint64_t readSentMark(const std::string& logPath);
// False when the mark cannot be written.
bool writeSentMark(const std::string& logPath, std::uint64_t offset);

} // namespace mub
