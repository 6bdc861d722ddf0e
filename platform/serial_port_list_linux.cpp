#include "platform/serial_port_list.h"

namespace mub {

std::vector<ListedSerialPort> listedSerialPorts() { return {}; }

} // namespace mub
