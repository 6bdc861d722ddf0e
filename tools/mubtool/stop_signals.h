// Ctrl+C as the Stop button of mubtool's headless runs. The operating
// system's side (signals here) stays in this one place.
#pragma once

#include <functional>

namespace mub::tool {

// From now on the first Ctrl+C (or a termination request) raises the stop
// flag; a second one ends the program the usual way. Output to a reader
// that went away (a closed pipe) is dropped instead of ending the program.
void catchStopSignals();

// The stop flag: true once a Ctrl+C came after catchStopSignals.
bool stopSignalled();

// From now on the stop also runs `action` (an empty one: nothing), on a
// thread that is not the signal's: the waits of the run are told at once,
// instead of looking at the flag now and then. Whoever sets an action
// clears it before what it uses goes away.
void onStopSignal(std::function<void()> action);

// Called by the Windows entry when everything is written, the end report
// included. Closing the console window is a stop like Ctrl+C, but Windows
// ends the program as soon as the stop has been taken note of (at the latest
// five seconds after the close): the note waits for this, so that the run
// stops, releases the machine and reports its end first.
void outputFinished();

// Windows: what the system calls on Ctrl+C, Ctrl+Break and the close of the
// console window (the CTRL_*_EVENT type); true when the program takes the
// event itself. Reached by the tests directly: closing a console window
// cannot be played under Wine.
int handleConsoleControl(unsigned long type);

} // namespace mub::tool
