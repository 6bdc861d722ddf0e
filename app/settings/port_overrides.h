// The optional section [Ports] of the settings file: COM port names mapped to
// device paths, for machines whose tty the default table does not name
// (a USB adapter with an unusual name, a pseudo-terminal of the simulated
// machine). The program never writes it.
//
//   [Ports]
//   COM1=/dev/pts/7
//   COM3=            an empty value takes COM3 out of the table
#pragma once

#include "serial/port_table.h"

#include <map>
#include <string>

namespace mub {

// Port number -> device path for every key COM1..COM255 (ASCII case ignored,
// decimal without leading zeros) of [Ports]; other keys are ignored, and of
// two keys for one port the first counts.
std::map<int, std::string> readPortOverrides(const std::string& settingsPath);

// Puts the overrides of [Ports] into `table`; returns how many there were.
int loadPortOverrides(const std::string& settingsPath, PortTable& table);

} // namespace mub
