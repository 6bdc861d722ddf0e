#include "platform/host_facts.h"

#include <climits>
#include <unistd.h>

namespace mub {

std::string computerName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

LocalTime localTimeNow() {
    LocalTime now;
    const std::time_t seconds = std::time(nullptr);
    if (::localtime_r(&seconds, &now.fields) != nullptr) now.utcOffsetSeconds = now.fields.tm_gmtoff;
    return now;
}

} // namespace mub
