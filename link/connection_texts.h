// The texts connectMachine and the searches show (GBK).
#pragma once

#include <string>

namespace mub {

struct ConnectionTexts {
    std::string usbNoDevice, usbBusy, usbOther;
    std::string deviceFound, probeLost, portBadStatus, connecting, searchTimeout;
    std::string linkLost, readingInfo, confirmFailed, infoFailedPane, infoFailedBox, infoRead;
};

const ConnectionTexts& connectionTexts();

} // namespace mub
