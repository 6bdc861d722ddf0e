// The upgrade file held by the program: the three identity texts, the
// firmware image and whether they come from a file that passed every check.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mub {

using Bytes = std::vector<std::uint8_t>;

struct UpgradeFile {
    std::string path;            // full path as chosen by the operator
    std::string modelId;         // "id=" value, GBK
    std::string hardwareVersion; // "ISPVer=" value, GBK
    std::string softwareVersion; // "Firmware=" value, GBK
    Bytes image;                 // decoded "data=" value
    std::string fileMd5;         // of the file's bytes as read, lowercase hexadecimal (for the upgrade log)
    bool loaded = false;
};

} // namespace mub
