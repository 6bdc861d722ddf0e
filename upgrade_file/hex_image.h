// The firmware image as hexadecimal text: two characters per byte, high four
// bits first, letters in either case.
#pragma once

#include "upgrade_file/upgrade_file.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace mub {

// Image bytes of a "data=" value: floor(n / 2) bytes for n characters, a last
// unpaired character ignored. Empty when any character (the unpaired one
// included) is not a hexadecimal digit: such a value is no image.
std::optional<Bytes> hexToImage(std::string_view hexText);

// The inverse: two upper-case hexadecimal characters per byte.
std::string imageToHex(std::span<const std::uint8_t> image);

} // namespace mub
