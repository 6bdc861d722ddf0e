// Writing an upgrade file: the inverse of decodeUpgradeFile. Used by the
// packing tool and, through the sealing options, to build special files.
#pragma once

#include "upgrade_file/upgrade_file.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace mub {

// The three identity texts, GBK.
struct UpgradeTexts {
    std::string modelId;
    std::string hardwareVersion;
    std::string softwareVersion;
};

// Why a text cannot be stored as a value that reads back unchanged.
enum class TextProblem {
    None,
    Empty,       // an empty value makes the file ill-formed
    LineBreak,   // CR or LF would split or join lines
    ZeroByte,    // the body is read only up to its first zero byte
    ContainsTag, // a tag inside a value (in any letter case) is removed or sets another value
};
TextProblem checkValueText(std::string_view gbkText);

// Largest payload the signed 32-bit size field allows (twice it must stay
// positive), and so the largest image a file can carry with short texts.
inline constexpr std::size_t kMaxPayloadBytes = (std::size_t{1} << 30) - 1;

// How the packed, sealed file is made; the defaults make a regular file.
struct SealOptions {
    bool upperCaseDigest = false;                // regular files use lowercase
    std::optional<std::int32_t> declaredSize;    // size field; default: the payload's size
    std::array<std::uint8_t, 4> magic = {0x0D, 0x0F, 0x3E, 0x03};
    std::optional<std::string> key;              // default: the program's upgrade key
    Bytes afterStream;                           // bytes appended after the zlib stream
};

// Seals a body text: appends its MD5, deflates, adds the header and
// enciphers. No check of the body; for building any file at all.
Bytes sealUpgradeBody(std::string_view body, const SealOptions& options = {});

// The body of a regular file: the four tag lines, CR LF ended, the image in
// upper-case hexadecimal.
std::string upgradeBody(const UpgradeTexts& texts, std::span<const std::uint8_t> image);

// A regular upgrade file that decodes back to exactly these values. Empty
// when a text has a problem, the image is empty, or the payload would be
// larger than kMaxPayloadBytes, or the file larger than readers take
// (maxUpgradeFileBytes).
std::optional<Bytes> encodeUpgradeFile(const UpgradeTexts& texts, std::span<const std::uint8_t> image);

} // namespace mub
