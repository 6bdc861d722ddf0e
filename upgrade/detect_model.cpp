#include "upgrade/detect_model.h"

#include "link/connect_machine.h"
#include "link/machine_link.h"
#include "link/protocol.h"
#include "platform/gbk_text.h"

namespace mub {
namespace {

// Back to idle, whether the check succeeded, failed or was stopped; the
// machine is told that no upgrade follows.
void endCheck(MachineLink& link, bool fileLoaded, SessionObserver& observer) {
    link.running = false;
    link.writePacket(Bytes{Cancel});
    SessionEvent finished(SessionEventKind::CheckFinished);
    finished.upgradeAllowed = fileLoaded;
    observer.on(finished);
    link.closeTransport();
}

} // namespace

std::optional<MachineInfo> detectModel(MachineLink& link, int baudIndex, bool fileLoaded, SessionObserver& observer,
                                       std::chrono::microseconds probeGap) {
    observer.on(SessionEvent(SessionEventKind::CheckStarted));
    const std::optional<MachineInfo> identified = connectMachine(link, baudIndex, observer, probeGap);
    endCheck(link, fileLoaded, observer);
    return identified;
}

void stopModelCheck(MachineLink& link, bool fileLoaded, SessionObserver& observer) {
    observer.on({SessionEventKind::CheckStopped, Pane::Replace, gbk("型号检测被停止！")});
    endCheck(link, fileLoaded, observer);
}

} // namespace mub
