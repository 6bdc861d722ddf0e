// What the station window takes from this computer, the same for both of
// its views: station.ini beside cfg.ini (under the same location rules),
// the upgrade log beside them, the upgrader window's port table and its
// collector ([Records] of cfg.ini), and the USB serial ports this user may
// open.
#pragma once

#include "station/station_window.h"

namespace mub {

inline constexpr const char* stationSettingsFileName = "station.ini";

StationWindowHost stationWindowHost(const std::string& programDir);

} // namespace mub
