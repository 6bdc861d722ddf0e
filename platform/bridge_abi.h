/* The six functions the USB bridge library exports, as plain C. The bridge
 * binding looks them up by these names (on 32-bit Windows also decorated:
 * _MA101_ConnectBridge@8, MA101_ConnectBridge@8); the stand-in bridge
 * library built here defines them. Every function takes the parameter block
 * by address and returns a 32-bit status (0 success, BRIDGE_STATUS_* below). */
#ifndef MUB_PLATFORM_BRIDGE_ABI_H
#define MUB_PLATFORM_BRIDGE_ABI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The calling convention of the six functions in the stand-in library:
 * stdcall on 32-bit Windows, as libraries of this kind are mostly built
 * there, unless the build asks for another (the stand-in is also built as a
 * cdecl library); the platform's own everywhere else. The binding itself
 * works with either (link/bridge_functions.h). */
#ifndef BRIDGE_CALL
#if defined(_WIN32) && defined(__i386__)
#define BRIDGE_CALL __stdcall
#else
#define BRIDGE_CALL
#endif
#endif

#define BRIDGE_STATUS_OK 0x00000000u
#define BRIDGE_STATUS_NO_DEVICE 0xE0000003u
#define BRIDGE_STATUS_DEVICE_BUSY 0xE0000012u
/* Further codes of the stand-in library; callers treat them as "other". */
#define BRIDGE_STATUS_FAILED 0xE0000001u
#define BRIDGE_STATUS_ACCESS_DENIED 0xE0000005u
#define BRIDGE_STATUS_NOT_CONNECTED 0xE0000006u
#define BRIDGE_STATUS_TIMEOUT 0xE0000020u
#define BRIDGE_STATUS_BAD_ARGUMENT 0xE0000057u

/* Opens the device chosen by words 0 and 1 (USB vendor and product id). */
typedef uint32_t (BRIDGE_CALL *BridgeConnectFn)(uint32_t* params, int32_t mode);
/* Applies the mode record: 0x01, baud index, 0x00, 0x01. */
typedef uint32_t (BRIDGE_CALL *BridgeSetModeFn)(uint32_t* params, const uint8_t* record, int32_t length);
/* Discards bytes queued in either direction. */
typedef uint32_t (BRIDGE_CALL *BridgeClearFn)(uint32_t* params);
/* Writes `length` bytes within word 3 milliseconds; *written gets the count. */
typedef uint32_t (BRIDGE_CALL *BridgeWriteFn)(uint32_t* params, const uint8_t* data, int32_t length, uint32_t* written);
/* Reads up to `length` bytes within word 2 milliseconds; *read gets the count. */
typedef uint32_t (BRIDGE_CALL *BridgeReadFn)(uint32_t* params, uint8_t* buffer, int32_t length, uint32_t* read);
/* Closes the device; harmless when none is open. */
typedef uint32_t (BRIDGE_CALL *BridgeDisconnectFn)(uint32_t* params);

#define BRIDGE_FN_CONNECT "MA101_ConnectBridge"
#define BRIDGE_FN_SET_MODE "MA101_SetMode"
#define BRIDGE_FN_CLEAR "MA101_ClearDevBuffer"
#define BRIDGE_FN_WRITE "MA101_WriteData"
#define BRIDGE_FN_READ "MA101_ReadData"
#define BRIDGE_FN_DISCONNECT "MA101_DisconnectBridge"

uint32_t BRIDGE_CALL MA101_ConnectBridge(uint32_t* params, int32_t mode);
uint32_t BRIDGE_CALL MA101_SetMode(uint32_t* params, const uint8_t* record, int32_t length);
uint32_t BRIDGE_CALL MA101_ClearDevBuffer(uint32_t* params);
uint32_t BRIDGE_CALL MA101_WriteData(uint32_t* params, const uint8_t* data, int32_t length, uint32_t* written);
uint32_t BRIDGE_CALL MA101_ReadData(uint32_t* params, uint8_t* buffer, int32_t length, uint32_t* read);
uint32_t BRIDGE_CALL MA101_DisconnectBridge(uint32_t* params);

#ifdef __cplusplus
}
#endif

#endif
