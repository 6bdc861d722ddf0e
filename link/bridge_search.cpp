#include "link/bridge_search.h"

#include "link/bridge_transport.h"
#include "link/connection_texts.h"
#include "link/machine_link.h"

namespace mub {

MachineSearch::Result BridgeSearch::find() {
    const ConnectionTexts& t = connectionTexts();
    MachineLink& link = host_.link();
    Ui& ui = link.ui();
    const std::uint32_t status = bridge_.open(0, link.running);
    bridge_.setStatus(status);
    if (host_.messagesAllowed() && link.running && status != StatusOk) {
        if (status == StatusNoDevice)
            ui.setMessage(t.usbNoDevice);
        else if (status == StatusDeviceBusy)
            ui.setMessage(t.usbBusy);
        else
            ui.setMessage(t.usbOther);
        host_.setMessagesAllowed(false);
    }
    if (status != StatusOk || !link.running) return Result::NotFound;

    bridge_.setMode();
    ui.setMessage(t.deviceFound);
    host_.setMessagesAllowed(true);
    return host_.probe(0) ? Result::Found : Result::NotFound;
}

} // namespace mub
