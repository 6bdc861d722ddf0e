#include "link/bridge_search.h"

#include "link/bridge_transport.h"
#include "link/connection_texts.h"
#include "link/machine_link.h"

namespace mub {

MachineSearch::Result BridgeSearch::find() {
    MachineLink& link = host_.link();
    const std::uint32_t status = bridge_.open(0, link.running);
    bridge_.setStatus(status);
    if (host_.messagesAllowed() && link.running && status != StatusOk) {
        host_.tell(connectionEvent(status == StatusNoDevice     ? SessionEventKind::NoUsbDevice
                                   : status == StatusDeviceBusy ? SessionEventKind::UsbDeviceBusy
                                                                : SessionEventKind::UsbDeviceError));
        host_.setMessagesAllowed(false);
    }
    if (status != StatusOk || !link.running) return Result::NotFound;

    bridge_.setMode();
    host_.tell(connectionEvent(SessionEventKind::MachineFound));
    host_.setMessagesAllowed(true);
    return host_.probe(0) ? Result::Found : Result::NotFound;
}

} // namespace mub
