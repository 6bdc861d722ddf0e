#include "platform/diagnostic_log.h"

#include "platform/wide_text_windows.h"

#include <windows.h>

#include <cstdio>

namespace mub {

void diagnosticLine(const std::string& utf8Text) {
    ::OutputDebugStringW(wideFromUtf8(utf8Text + "\n").c_str());
    // Standard error, when there is one (mubtool.exe; not a window program).
    std::fprintf(stderr, "%s\n", utf8Text.c_str());
    std::fflush(stderr);
}

} // namespace mub
