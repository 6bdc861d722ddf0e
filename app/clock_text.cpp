#include "app/clock_text.h"

#include "platform/gbk_text.h"

#include <cstdio>

namespace mub {

std::string clockText(const std::tm& local) {
    char date[96];
    std::snprintf(date, sizeof date, "%d年%d月%d日%d时%d分", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                  local.tm_hour, local.tm_min);
    // Sixteen blanks in front, then the last 25 bytes: the text ends flush
    // right in a field of 25 bytes.
    std::string padded = std::string(16, ' ') + gbk(date);
    return std::string(lastBytes(padded, 25));
}

std::string clockTextNow() {
    // Called on the window's thread only, so the shared result of
    // std::localtime is safe here.
    std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    return local ? clockText(*local) : std::string();
}

} // namespace mub
