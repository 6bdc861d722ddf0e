// Paths inside the program are UTF-8 on every system. std::filesystem takes
// a narrow path in the system's narrow encoding, which on Windows is the
// ANSI code page, not UTF-8: a folder named 升级工具 would not be found.
// Every use of std::filesystem on a path of the program goes through here.
#pragma once

#include <filesystem>
#include <string>

namespace mub {

std::filesystem::path fileSystemPath(const std::string& utf8Path);

} // namespace mub
