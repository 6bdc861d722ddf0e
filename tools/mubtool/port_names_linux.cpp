#include "tools/mubtool/port_names.h"

namespace mub::tool {

bool devicePathsReachPorts() { return true; }

} // namespace mub::tool
