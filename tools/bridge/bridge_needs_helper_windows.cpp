// A bridge library that needs another library, BridgeHelper.dll, as vendor
// libraries need their runtime: the tests leave the helper out to see the
// binding name a missing dependency. The functions find no device.
#include "platform/bridge_abi.h"

#define BRIDGE_EXPORT extern "C" __declspec(dllexport)

extern "C" __declspec(dllimport) uint32_t bridgeHelperStatus();

BRIDGE_EXPORT uint32_t BRIDGE_CALL MA101_ConnectBridge(uint32_t*, int32_t) { return bridgeHelperStatus(); }
BRIDGE_EXPORT uint32_t BRIDGE_CALL MA101_SetMode(uint32_t*, const uint8_t*, int32_t) { return bridgeHelperStatus(); }
BRIDGE_EXPORT uint32_t BRIDGE_CALL MA101_ClearDevBuffer(uint32_t*) { return bridgeHelperStatus(); }
BRIDGE_EXPORT uint32_t BRIDGE_CALL MA101_WriteData(uint32_t*, const uint8_t*, int32_t, uint32_t*) {
    return bridgeHelperStatus();
}
BRIDGE_EXPORT uint32_t BRIDGE_CALL MA101_ReadData(uint32_t*, uint8_t*, int32_t, uint32_t*) { return bridgeHelperStatus(); }
BRIDGE_EXPORT uint32_t BRIDGE_CALL MA101_DisconnectBridge(uint32_t*) { return BRIDGE_STATUS_OK; }
