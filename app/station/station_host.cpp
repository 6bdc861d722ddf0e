#include "app/station/station_host.h"

#include "app/settings/port_overrides.h"
#include "app/settings/settings_file.h"
#include "app/settings/settings_location.h"
#include "platform/usb_serial_ports.h"


namespace mub {

StationWindowHost stationWindowHost(const std::string& programDir) {
    StationWindowHost host;
    const std::string settings = settingsPathFor(programDir);
    const std::size_t slash = settings.find_last_of("/\\");
    host.settingsPath = (slash == std::string::npos ? std::string(".") : settings.substr(0, slash)) + "/" +
                        stationSettingsFileName;
    host.defaultLogPath = upgradeLogPathBeside(settings);
    loadPortOverrides(settings, host.windowTable);
    const RecordsSettings records = readRecordsSettings(settings);
    host.records = {records.sendTo, records.token};
    host.usbPorts = usableUsbSerialPorts;
    return host;
}

} // namespace mub
