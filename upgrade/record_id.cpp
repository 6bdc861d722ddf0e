#include "upgrade/record_id.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <random>

namespace mub {

std::string newRecordId() {
    // The system's source (getrandom on Linux, rand_s on Windows), read four
    // 32-bit words at a time; one device for the program, under a lock
    // because the ports' threads make ids at once.
    static std::mutex lock;
    static std::random_device source;
    std::uint32_t words[4];
    {
        std::lock_guard<std::mutex> guard(lock);
        for (std::uint32_t& word : words) word = static_cast<std::uint32_t>(source());
    }
    char text[33];
    std::snprintf(text, sizeof text, "%08x%08x%08x%08x", words[0], words[1], words[2], words[3]);
    return text;
}

} // namespace mub
