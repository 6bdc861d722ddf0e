// A bridge library the binding must refuse: MA101_DisconnectBridge removes
// eight bytes from the stack although it is passed four (it was built for
// two arguments), so it follows neither calling convention. The other
// functions find no device. 32-bit Windows only.
#include <cstdint>

#define ODD_EXPORT extern "C" __declspec(dllexport)

namespace {
constexpr std::uint32_t noDevice = 0xE0000003u;
}

ODD_EXPORT std::uint32_t __stdcall MA101_ConnectBridge(std::uint32_t*, std::int32_t) { return noDevice; }
ODD_EXPORT std::uint32_t __stdcall MA101_SetMode(std::uint32_t*, const std::uint8_t*, std::int32_t) { return noDevice; }
ODD_EXPORT std::uint32_t __stdcall MA101_ClearDevBuffer(std::uint32_t*) { return noDevice; }
ODD_EXPORT std::uint32_t __stdcall MA101_WriteData(std::uint32_t*, const std::uint8_t*, std::int32_t, std::uint32_t*) {
    return noDevice;
}
ODD_EXPORT std::uint32_t __stdcall MA101_ReadData(std::uint32_t*, std::uint8_t*, std::int32_t, std::uint32_t*) {
    return noDevice;
}
ODD_EXPORT std::uint32_t __stdcall MA101_DisconnectBridge(std::uint32_t*, std::uint32_t) { return 0; }
