#include "platform/host_facts.h"

#include "platform/wide_text_windows.h"

#include <windows.h>

#include <time.h>

namespace mub {

std::string computerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(name, &length)) return {};
    return utf8FromWide(std::wstring_view(name, length));
}

LocalTime localTimeNow() {
    LocalTime now;
    const __time64_t seconds = ::_time64(nullptr);
    if (::_localtime64_s(&now.fields, &seconds) != 0) return now;
    // The local fields read as if they were UTC, minus the true UTC time.
    std::tm asUtc = now.fields;
    const __time64_t local = ::_mkgmtime64(&asUtc);
    if (local != -1) now.utcOffsetSeconds = static_cast<long>(local - seconds);
    return now;
}

} // namespace mub
