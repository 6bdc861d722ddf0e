// Why the bytes of an upgrade file could not be had at all, before any
// decoding: each reason has its own words, so that nobody looks for a
// damaged file when the path was wrong.
#pragma once

#include <cstdint>
#include <string>

namespace mub {

// An upgrade file holds one firmware image; anything larger is no upgrade
// file and is refused before it is read into memory.
inline constexpr std::uint64_t maxUpgradeFileBytes = 64ull << 20;

enum class FileReadFailure {
    NotFound,     // no such file (or folder on its path)
    Folder,       // the path names a folder
    NoPermission, // the user may not read it
    InUse,        // another program holds it (after about two seconds of tries)
    Empty,        // 0 bytes
    TooLarge,     // larger than maxUpgradeFileBytes
    NotAFile,     // a pipe, a device or another special file
    ReadError,    // opened, but reading failed (a pulled USB stick, a lost network drive)
};

// The error box's text for the reason (GBK).
const std::string& fileReadFailureText(FileReadFailure failure);

// The message pane's line for the reason (GBK): "读取文件失败：找不到文件。.".
const std::string& fileReadFailurePaneText(FileReadFailure failure);

// The reason in a few words (UTF-8), as the pane line has it: "找不到文件".
const char* fileReadFailureReason(FileReadFailure failure);

// The word for scripts and the upgrade log's outcome column: "file-not-found", ...
const char* fileReadFailureOutcome(FileReadFailure failure);

} // namespace mub
