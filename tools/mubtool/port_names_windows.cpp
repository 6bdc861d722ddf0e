#include "tools/mubtool/port_names.h"

namespace mub::tool {

bool devicePathsReachPorts() { return false; }

} // namespace mub::tool
