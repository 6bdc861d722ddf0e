#include "link/bridge_binding.h"

#include "link/bridge_functions.h"

namespace mub {

std::int64_t BridgeBinding::connectBridge(BridgeParams& params, int mode) {
    if (!fn_) return StatusNoDevice;
    return fn_->connect(params.words, mode);
}

std::int64_t BridgeBinding::setMode(BridgeParams& params, const std::uint8_t* record, int length) {
    if (!fn_) return StatusNoDevice;
    return fn_->setMode(params.words, record, length);
}

std::int64_t BridgeBinding::clearDevBuffer(BridgeParams& params) {
    if (!fn_) return StatusNoDevice;
    return fn_->clear(params.words);
}

std::int64_t BridgeBinding::writeData(BridgeParams& params, const std::uint8_t* data, int length,
                                      std::uint32_t* written) {
    if (!fn_) return StatusNoDevice;
    return fn_->write(params.words, data, length, written);
}

std::int64_t BridgeBinding::readData(BridgeParams& params, std::uint8_t* buffer, int length, std::uint32_t* read) {
    if (!fn_) return StatusNoDevice;
    return fn_->read(params.words, buffer, length, read);
}

std::int64_t BridgeBinding::disconnectBridge(BridgeParams& params) {
    if (!fn_) return StatusOk;
    return fn_->disconnect(params.words);
}

} // namespace mub
