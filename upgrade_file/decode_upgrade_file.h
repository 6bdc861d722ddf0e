// Reading an upgrade file (*.mub): from the file's bytes to the three
// identity texts and the firmware image, or one of two failure kinds.
//
// Layers, outermost first: the whole file is RC4 ciphertext; deciphered it is
// a packed block (magic, declared unpacked size, zlib stream); inflated it is
// a payload of a GBK text body followed by the body's MD5 as 32 lowercase hex
// characters; the body holds the tag lines "id=", "ISPVer=", "Firmware=" and
// "data=" (the image in hexadecimal).
#pragma once

#include "upgrade_file/hex_image.h" // hexToImage, the image step on its own
#include "upgrade_file/upgrade_file.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace mub {

enum class DecodeFailure {
    IllegalOrDamaged, // deciphering, unpacking or the digest check failed (also: empty file)
    BadFormat,        // the body lacks one of the four values or the image is not hexadecimal
};

// Either all four values (failure empty) or a failure with all values empty.
struct DecodeResult {
    std::optional<DecodeFailure> failure;
    std::string modelId;         // GBK, exactly as in the file
    std::string hardwareVersion; // GBK
    std::string softwareVersion; // GBK
    Bytes image;

    bool ok() const { return !failure.has_value(); }
};

// Decodes the whole contents of an upgrade file. A missing, unreadable or
// empty file is passed as no bytes and ends in IllegalOrDamaged. No side
// effects; never allocates more than twice the declared unpacked size for
// the inflated payload, and running out of memory ends in a failure.
DecodeResult decodeUpgradeFile(std::span<const std::uint8_t> fileBytes);

// The text (GBK) of the error box that reports a failed open of this kind.
const std::string& decodeFailureText(DecodeFailure failure);

} // namespace mub
