// What --port may name besides USB and COMn on this system.
#pragma once

namespace mub::tool {

// True where a device path given as --port is reached through the port
// table (Linux); false where COM numbers are the system's own (Windows).
bool devicePathsReachPorts();

} // namespace mub::tool
