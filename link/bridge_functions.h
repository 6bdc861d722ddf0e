// The six functions of a loaded bridge library. Internal to the link
// library: filled by the loader of each operating system.
#pragma once

#include "link/bridge_binding.h"
#include "platform/bridge_abi.h"

namespace mub {

struct BridgeBinding::Functions {
    BridgeConnectFn connect = nullptr;
    BridgeSetModeFn setMode = nullptr;
    BridgeClearFn clear = nullptr;
    BridgeWriteFn write = nullptr;
    BridgeReadFn read = nullptr;
    BridgeDisconnectFn disconnect = nullptr;
};

} // namespace mub
