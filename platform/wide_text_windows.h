// UTF-8 <-> UTF-16 for the system's wide-character calls (paths, console).
#pragma once

#include <string>
#include <string_view>

namespace mub {

std::wstring wideFromUtf8(std::string_view utf8Text);
std::string utf8FromWide(std::wstring_view wide);

// The system's message for an error code, in GBK, without the line end.
std::string systemErrorText(unsigned long code);

// The folder of the running program file (UTF-8, without a trailing
// separator); "." when it cannot be found.
std::string programFileFolder();

} // namespace mub
