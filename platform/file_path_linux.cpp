#include "platform/file_path.h"

namespace mub {

std::filesystem::path fileSystemPath(const std::string& utf8Path) { return std::filesystem::path(utf8Path); }

} // namespace mub
