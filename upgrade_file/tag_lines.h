// The body of an upgrade file: GBK text in CR LF lines, of which the ones
// holding one of the four tags give the file's values.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace mub {

// The tags in the order a line is tested against them.
inline constexpr std::array<std::string_view, 4> kUpgradeTags = {"id=", "ISPVer=", "Firmware=", "data="};

struct TagValues {
    std::string modelId;         // "id="
    std::string hardwareVersion; // "ISPVer="
    std::string softwareVersion; // "Firmware="
    std::string data;            // "data=", hexadecimal image text

    bool complete() const {
        return !modelId.empty() && !hardwareVersion.empty() && !softwareVersion.empty() && !data.empty();
    }
};

// Reads the values from a body text (already cut at its first zero byte).
// A line that contains a tag (exact bytes, found only at a GBK character
// start) gives that tag's value: the whole line with every occurrence of the
// tag removed, ASCII letters compared without regard to case. One line may
// set several values; a later line overrides an earlier one. Lines are split
// at CR LF only; empty lines and lines without tags are ignored.
TagValues parseTagLines(std::string_view bodyText);

} // namespace mub
