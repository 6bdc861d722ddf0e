// mubtool info FILE.mub: decodes an upgrade file as the window's open command
// does and prints what it carries.
#include "platform/gbk_text.h"
#include "tools/mubtool/command.h"
#include "upgrade_file/decode_upgrade_file.h"
#include "upgrade_file/md5.h"
#include "upgrade_file/open_upgrade_file.h"

#include <cstdio>

namespace mub::tool {
namespace {

enum : int { ExitIllegalOrDamaged = 2, ExitBadFormat = 3 };

constexpr const char* kUsage =
    "usage: mubtool info FILE.mub\n"
    "\n"
    "Decodes an upgrade file and prints, one 'key: value' per line in UTF-8:\n"
    "  model, hardware, software   the file's identity texts\n"
    "  image-bytes                 length of the firmware image\n"
    "  image-md5                   MD5 of the image, lowercase hexadecimal\n"
    "\n"
    "exit codes:\n"
    "  0  the file is valid\n"
    "  1  usage error\n"
    "  2  illegal or damaged file (also missing, unreadable or empty)\n"
    "  3  bad format (a value missing or the image not hexadecimal)\n"
    "On failure the text of the window's error box is printed on stderr.\n";

int runInfo(const std::vector<std::string>& args) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        return ExitOk;
    }
    if (args.size() != 1 || (args[0].size() > 1 && args[0][0] == '-')) {
        std::fputs(kUsage, stderr);
        return ExitUsage;
    }

    // Read by the window's own reader: a missing, unreadable, empty or locked
    // file is decoded as no bytes.
    Bytes bytes = readUpgradeFileBytesAt(args[0]);
    DecodeResult result = decodeUpgradeFile(bytes);
    if (!result.ok()) {
        std::fprintf(stderr, "%s\n", utf8(decodeFailureText(*result.failure)).c_str());
        return *result.failure == DecodeFailure::BadFormat ? ExitBadFormat : ExitIllegalOrDamaged;
    }
    std::printf("model: %s\n", utf8(result.modelId).c_str());
    std::printf("hardware: %s\n", utf8(result.hardwareVersion).c_str());
    std::printf("software: %s\n", utf8(result.softwareVersion).c_str());
    std::printf("image-bytes: %zu\n", result.image.size());
    std::printf("image-md5: %s\n", md5Hex(result.image).c_str());
    return ExitOk;
}

MubtoolCommand reg("info", "decode an upgrade file and print its model, versions and image size", &runInfo);

} // namespace
} // namespace mub::tool
