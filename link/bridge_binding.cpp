#include "link/bridge_binding.h"

#include "link/bridge_functions.h"

#include <string>

namespace mub {

namespace {
template <typename Fn>
bool lookUp(void* library, void* (*symbol)(void*, const char*), const char* name, Fn& out, std::string& error) {
    void* found = symbol(library, name);
    if (!found) {
        if (error.empty()) error = std::string("bridge library lacks the function ") + name;
        return false;
    }
    out = reinterpret_cast<Fn>(found);
    return true;
}
} // namespace

bool BridgeBinding::bindFunctions(void* library, void* (*symbol)(void*, const char*)) {
    auto* fn = new Functions;
    bool ok = lookUp(library, symbol, BRIDGE_FN_CONNECT, fn->connect, error_);
    ok = lookUp(library, symbol, BRIDGE_FN_SET_MODE, fn->setMode, error_) && ok;
    ok = lookUp(library, symbol, BRIDGE_FN_CLEAR, fn->clear, error_) && ok;
    ok = lookUp(library, symbol, BRIDGE_FN_WRITE, fn->write, error_) && ok;
    ok = lookUp(library, symbol, BRIDGE_FN_READ, fn->read, error_) && ok;
    ok = lookUp(library, symbol, BRIDGE_FN_DISCONNECT, fn->disconnect, error_) && ok;
    if (!ok) {
        delete fn;
        return false;
    }
    fn_ = fn;
    return true;
}

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
