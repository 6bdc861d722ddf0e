#include "upgrade_file/exclusive_read.h"

#include "platform/ui.h"

#include <chrono>
#include <thread>

namespace mub {

ExclusiveRead readFailed(FileReadFailure failure, Ui* ui) {
    if (ui) ui->pumpDelay(1000);
    ExclusiveRead read;
    read.failure = failure;
    return read;
}

void pauseBeforeRetry(Ui* ui) {
    if (ui) {
        ui->pumpDelay(heldFilePauseMs * 1000);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(heldFilePauseMs));
}

} // namespace mub
