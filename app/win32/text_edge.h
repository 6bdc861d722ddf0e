// GBK texts of the logic to and from the UTF-16 of the W functions.
#pragma once

#include "platform/gbk_text.h"
#include "platform/wide_text_windows.h"

#include <string>

namespace mub {

inline std::wstring wideFromGbk(const std::string& gbkText) { return wideFromUtf8(utf8(gbkText)); }
inline std::string gbkFromWide(const std::wstring& wide) { return gbk(utf8FromWide(wide)); }

} // namespace mub
