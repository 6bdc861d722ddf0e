// BridgeHelper.dll: the library the needs-helper kind of the stand-in needs.
#include <cstdint>

extern "C" __declspec(dllexport) std::uint32_t bridgeHelperStatus() { return 0xE0000003u; }
