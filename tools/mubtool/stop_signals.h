// Ctrl+C as the Stop button of mubtool's headless runs. The operating
// system's side (signals here) stays in this one place.
#pragma once

namespace mub::tool {

// From now on the first Ctrl+C (or a termination request) raises the stop
// flag; a second one ends the program the usual way. Output to a reader
// that went away (a closed pipe) is dropped instead of ending the program.
void catchStopSignals();

// The stop flag: true once a Ctrl+C came after catchStopSignals.
bool stopSignalled();

} // namespace mub::tool
