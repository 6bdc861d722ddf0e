// The call thunk of the 32-bit bridge binding: a cdecl and a stdcall callee
// both return safely and are told apart by what they removed from the
// stack; a callee that removes too much leaves the caller's stack intact; a
// callee that changes the floating-point control words has them restored.
#include "link/bridge_functions.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

extern "C" {
std::uint32_t __cdecl cdeclDigits(std::uint32_t a, std::uint32_t b, std::uint32_t c) { return a * 100 + b * 10 + c; }
std::uint32_t __stdcall stdcallDigits(std::uint32_t a, std::uint32_t b) { return a * 10 + b; }
// Built for three arguments: called with two, it removes twelve bytes.
std::uint32_t __stdcall removesTooMuch(std::uint32_t a, std::uint32_t, std::uint32_t) { return a + 1; }

std::uint16_t x87ControlWord() {
    std::uint16_t word = 0;
    asm volatile("fnstcw %0" : "=m"(word));
    return word;
}
std::uint32_t mxcsr() {
    std::uint32_t word = 0;
    asm volatile("stmxcsr %0" : "=m"(word));
    return word;
}
// Rounds down in both units and unmasks an exception, as some compilers'
// library start-up code leaves them.
std::uint32_t __stdcall changesFloatingPoint(std::uint32_t) {
    std::uint16_t word = static_cast<std::uint16_t>((x87ControlWord() & ~0x0C00u) | 0x0400u);
    word = static_cast<std::uint16_t>(word & ~0x0004u); // zero divide unmasked
    asm volatile("fldcw %0" : : "m"(word));
    std::uint32_t csr = (mxcsr() & ~0x6000u) | 0x2000u | 0x8000u; // round down, flush to zero
    asm volatile("ldmxcsr %0" : : "m"(csr));
    return 1;
}
}

TEST(BridgeCallThunk, CallsEitherConventionAndMeasuresWhatWasRemoved) {
    const std::uint32_t three[] = {3, 4, 5};
    std::uint32_t removed = 99;
    EXPECT_EQ(mub::mubBridgeCall(reinterpret_cast<const void*>(&cdeclDigits), three, 3, &removed), 345u);
    EXPECT_EQ(removed, 0u);
    EXPECT_EQ(mub::conventionOfCall(removed, 3), mub::BridgeConvention::Cdecl);

    const std::uint32_t two[] = {6, 7};
    EXPECT_EQ(mub::mubBridgeCall(reinterpret_cast<const void*>(&stdcallDigits), two, 2, &removed), 67u);
    EXPECT_EQ(removed, 8u);
    EXPECT_EQ(mub::conventionOfCall(removed, 2), mub::BridgeConvention::Stdcall);
}

TEST(BridgeCallThunk, ACalleeThatRemovesTooMuchLeavesTheCallerIntact) {
    volatile std::uint32_t canary[4] = {0x11111111, 0x22222222, 0x33333333, 0x44444444};
    const std::uint32_t two[] = {41, 0};
    std::uint32_t removed = 0;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(mub::mubBridgeCall(reinterpret_cast<const void*>(&removesTooMuch), two, 2, &removed), 42u);
    EXPECT_EQ(removed, 12u);
    EXPECT_EQ(mub::conventionOfCall(removed, 2), mub::BridgeConvention::Unknown);
    EXPECT_EQ(canary[0], 0x11111111u);
    EXPECT_EQ(canary[3], 0x44444444u);
}

TEST(BridgeCallThunk, FloatingPointControlWordsAreRestored) {
    const std::uint16_t x87 = x87ControlWord();
    const std::uint32_t sse = mxcsr();
    const std::uint32_t one[] = {0};
    std::uint32_t removed = 0;
    EXPECT_EQ(mub::mubBridgeCall(reinterpret_cast<const void*>(&changesFloatingPoint), one, 1, &removed), 1u);
    EXPECT_EQ(x87ControlWord(), x87);
    EXPECT_EQ(mxcsr(), sse);
    // And the arithmetic after it rounds as before.
    volatile double third = 1.0 / 3.0;
    EXPECT_EQ(static_cast<float>(third), 1.0f / 3.0f);
}

} // namespace
