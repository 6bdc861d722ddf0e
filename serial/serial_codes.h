// The numbers a SerialChannel hands to its onNotify and onStatus handlers.
#pragma once

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

// Line-error bits (third onStatus argument).
enum SerialErrorBit : std::int32_t {
    ErrorInputOverflow = 0x01, // the driver's input buffer overflowed
    ErrorOverrun = 0x02,       // the receiver lost a byte
    ErrorParity = 0x04,
    ErrorFraming = 0x08,
    ErrorBreak = 0x10,
};

// Hold and status bits (fourth onStatus argument).
enum SerialHoldBit : std::int32_t {
    HoldCts = 0x01, // output waits for CTS
    HoldDsr = 0x02,
    HoldRlsd = 0x04,
    HoldXoff = 0x08,
    HoldXoffSent = 0x10,
    HoldEof = 0x20,
    HoldImmediate = 0x40,
};

} // namespace mub
