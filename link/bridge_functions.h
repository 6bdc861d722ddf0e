// The six functions of a loaded bridge library and how they are called.
// Internal to the link library: filled by the loader of each operating
// system.
#pragma once

#include "link/bridge_binding.h"
#include "platform/bridge_abi.h"

#include <cstdint>
#include <optional>

namespace mub {

struct BridgeBinding::Functions {
    void* connect = nullptr;
    void* setMode = nullptr;
    void* clear = nullptr;
    void* write = nullptr;
    void* read = nullptr;
    void* disconnect = nullptr;
};

// What a call returned, and how many bytes of its arguments the callee
// removed from the stack, where that is measured.
struct BridgeCallResult {
    std::uint32_t status;
    std::optional<std::uint32_t> removedBytes;
};

#if defined(_WIN32) && defined(__i386__)

// 32-bit Windows: the call thunk (bridge_call_x86_windows.S). It lays the
// `count` words of `arguments` on the stack (the first at the lowest
// address, where both conventions expect it), calls `function`, reports in `removedBytes` how many bytes the callee
// removed from the stack and puts the stack pointer back where it was, so
// that a cdecl and a stdcall callee both return safely. The x87 control word
// and MXCSR are restored after the call: libraries of some compilers change
// the rounding or the exception masks and leave them so.
extern "C" std::uint32_t mubBridgeCall(const void* function, const std::uint32_t* arguments, std::uint32_t count,
                                       std::uint32_t* removedBytes);

inline std::uint32_t stackWord(const void* pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}
inline std::uint32_t stackWord(std::int32_t value) { return static_cast<std::uint32_t>(value); }

template <typename... Args>
BridgeCallResult callBridge(void* function, Args... args) {
    const std::uint32_t words[] = {stackWord(args)...};
    std::uint32_t removed = 0;
    const std::uint32_t status = mubBridgeCall(function, words, sizeof...(Args), &removed);
    return {status, removed};
}

#else

// One convention on the platform: a typed call.
template <typename... Args>
BridgeCallResult callBridge(void* function, Args... args) {
    using Typed = std::uint32_t (*)(Args...);
    return {reinterpret_cast<Typed>(function)(args...), std::nullopt};
}

#endif

} // namespace mub
