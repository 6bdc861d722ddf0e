#include "platform/file_path.h"

#include "platform/wide_text_windows.h"

namespace mub {

std::filesystem::path fileSystemPath(const std::string& utf8Path) {
    return std::filesystem::path(wideFromUtf8(utf8Path));
}

} // namespace mub
