#include "upgrade/program_version.h"

#include "program_version_text.h" // made at build time

namespace mub {

const std::string& programVersion() {
    static const std::string version = MUB_PROGRAM_VERSION;
    return version;
}

} // namespace mub
