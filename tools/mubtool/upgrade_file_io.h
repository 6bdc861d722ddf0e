// File access for mubtool pack: reading the firmware image and writing the
// upgrade file. (Upgrade files are read with the window's own reader,
// readUpgradeFileBytesAt in upgrade_file/open_upgrade_file.h.) Paths are
// taken as the shell gives them (bytes, no conversion).
#pragma once

#include "upgrade_file/upgrade_file.h"

#include <optional>
#include <span>
#include <string>

namespace mub::tool {

// The whole contents of a regular file; empty when it is missing, unreadable
// or not a regular file (an empty file also gives no bytes).
std::optional<Bytes> readWholeFile(const std::string& path);

// Writes `bytes` to `path` through a temporary file in the same folder that
// replaces `path` only when complete. On failure returns a reason (errno
// text) and leaves any existing `path` untouched.
std::optional<std::string> writeWholeFile(const std::string& path, std::span<const std::uint8_t> bytes);

} // namespace mub::tool
