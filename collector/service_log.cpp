#include "collector/service_log.h"

#include <cstdio>
#include <mutex>

namespace mub::collector {

void serviceLog(const std::string& line) {
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

} // namespace mub::collector
