#include "upgrade/detect_model.h"

#include "link/connect_machine.h"
#include "link/machine_link.h"
#include "link/protocol.h"
#include "platform/gbk_text.h"
#include "upgrade_file/upgrade_file.h"

namespace mub {

std::optional<MachineInfo> detectModel(MachineLink& link, const UpgradeFile& file) {
    Ui& ui = link.ui();
    std::optional<MachineInfo> identified;
    if (ui.caption(Control::DetectModelButton) == gbk("型号检测")) {
        ui.setCaption(Control::DetectModelButton, gbk("停止"));
        ui.setEnabled(Control::UpgradeButton, false);
        identified = connectMachine(link);
    } else {
        // A click while a check waits: the check further out ends at its
        // next test of the running flag.
        ui.setMessage(gbk("型号检测被停止！"));
    }

    // Back to idle, whether the check succeeded, failed or was stopped; the
    // machine is told that no upgrade follows.
    link.running = false;
    link.writePacket(Bytes{Cancel});
    ui.setEnabled(Control::OpenFileButton, true);
    ui.setEnabled(Control::BaudRateList, true);
    if (file.loaded) ui.setEnabled(Control::UpgradeButton, true);
    ui.setCaption(Control::DetectModelButton, gbk("型号检测"));
    link.closeTransport();
    return identified;
}

} // namespace mub
