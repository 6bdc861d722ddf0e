// The texts connectMachine and the searches show (GBK), each with the event
// that shows it.
#pragma once

#include "link/session_events.h"

#include <string>

namespace mub {

struct ConnectionTexts {
    std::string usbNoDevice, usbBusy, usbOther;
    std::string deviceFound, probeLost, portBadStatus, connecting, searchTimeout;
    std::string linkLost, readingInfo, confirmFailed, infoFailedPane, infoFailedBox, infoRead;
};

const ConnectionTexts& connectionTexts();

// The event of `kind` with the pane text and box it shows (none for the
// kinds without texts).
SessionEvent connectionEvent(SessionEventKind kind);

} // namespace mub
