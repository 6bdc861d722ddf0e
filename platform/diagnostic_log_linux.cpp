#include "platform/diagnostic_log.h"

#include <cstdio>

namespace mub {

void diagnosticLine(const std::string& utf8Text) {
    std::fprintf(stderr, "%s\n", utf8Text.c_str());
    std::fflush(stderr);
}

} // namespace mub
