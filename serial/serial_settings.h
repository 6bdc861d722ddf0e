// The settings record handed to SerialChannel::open: 26 signed 32-bit fields
// in a fixed order. A value outside a field's accepted range gives that
// field's default when the port is configured, so an all-zero record with
// only baudRate set means 8 data bits, no parity, one stop bit, no flow
// control.
#pragma once

#include <cstdint>

namespace mub {

struct SerialSettings {
    std::int32_t baudRate = 0;
    std::int32_t dataBits = 0;
    std::int32_t parity = 0;
    std::int32_t stopBits = 0;
    std::int32_t inputQueueSize = 0;
    std::int32_t outputQueueSize = 0;
    std::int32_t readIntervalTimeout = 0;
    std::int32_t readTotalTimeoutMultiplier = 0;
    std::int32_t readTotalTimeoutConstant = 0;
    std::int32_t writeTotalTimeoutMultiplier = 0;
    std::int32_t writeTotalTimeoutConstant = 0;
    std::int32_t eventChar = 0;
    std::int32_t useFlowControl = 0;
    std::int32_t dtrControl = 0;
    std::int32_t outxDsrFlow = 0;
    std::int32_t dsrSensitivity = 0;
    std::int32_t rtsControl = 0;
    std::int32_t outxCtsFlow = 0;
    std::int32_t outX = 0;
    std::int32_t inX = 0;
    std::int32_t xonLimit = 0;
    std::int32_t xoffLimit = 0;
    std::int32_t xonChar = 0;
    std::int32_t xoffChar = 0;
    std::int32_t discardNull = 0;
    std::int32_t txContinueOnXoff = 0;
};

} // namespace mub
