// The numbers a SerialChannel hands to its onNotify and onStatus handlers.
#pragma once

#include "platform/serial_port_services.h" // the line-error and hold bits of onStatus

#include <cstdint>

namespace mub {

// onNotify codes.
enum SerialNotifyCode : std::int32_t {
    NotifyBreak = 1,
    NotifyCtsOn = 2,
    NotifyDsrOn = 3,
    NotifyLineError = 4,
    NotifyRing = 5,
    NotifyRlsdOn = 6,
    NotifyFlagChar = 7,
    NotifyCtsOff = 8,
    NotifyDsrOff = 9,
    NotifyRlsdOff = 10,
    NotifyOutputEmpty = 11,
    NotifyInputNearlyFull = 12,
};

} // namespace mub
