// Whole-file reading and replacing for the profile functions and the
// records sender's mark beside the upgrade log; one implementation per
// operating system.
#pragma once

#include <string>
#include <string_view>

namespace mub {

enum class ProfileReadResult { Ok, Missing, Failed };

// Reads the whole file at `path` into `out`.
ProfileReadResult readWholeProfile(const std::string& path, std::string& out);

// Writes a whole new file text in place of `path` without ever leaving a
// half-written file: a temporary file in the same folder, flushed to the
// disk, renamed over the old one. `existed` tells whether the old file was
// there. An existing file this user may not write is left as it is (false).
bool replaceProfile(const std::string& path, std::string_view content, bool existed);

} // namespace mub
