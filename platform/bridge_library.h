// The USB bridge library as the link sees it: six operations on a shared
// parameter block, each answering with a status.
//
// The real library is loaded at run time (link/bridge_binding.h); tests may
// put a fake behind this interface.
#pragma once

#include <cstdint>

namespace mub {

// The block passed by address to every bridge call. Words 0 and 1 select the
// device (USB vendor and product id), 2 and 3 are the read and write
// time-outs in milliseconds, 4 is the library's own. The words after them
// are room, zero and never touched here: a 64-bit library may keep a
// pointer in word 4 (eight bytes, so words 4 and 5, aligned for it), and a
// library that keeps more state than it says must not write over the
// caller's memory.
struct alignas(8) BridgeParams {
    std::uint32_t words[16] = {0x0E6A, 0x0103, 1000, 1000, 0};
};

// Status of a link operation; 0 is success.
enum : std::uint32_t {
    StatusOk = 0,
    StatusNoDevice = 0xE0000003u,
    StatusDeviceBusy = 0xE0000012u,
};

// The low 32 bits of a library result, zero-extended.
inline std::uint32_t lowWord32(std::int64_t value) { return static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)); }

class BridgeLibrary {
public:
    virtual ~BridgeLibrary() = default;
    virtual std::int64_t connectBridge(BridgeParams& params, int mode) = 0;
    virtual std::int64_t setMode(BridgeParams& params, const std::uint8_t* record, int length) = 0;
    virtual std::int64_t clearDevBuffer(BridgeParams& params) = 0;
    virtual std::int64_t writeData(BridgeParams& params, const std::uint8_t* data, int length, std::uint32_t* written) = 0;
    virtual std::int64_t readData(BridgeParams& params, std::uint8_t* buffer, int length, std::uint32_t* read) = 0;
    virtual std::int64_t disconnectBridge(BridgeParams& params) = 0;
};

} // namespace mub
