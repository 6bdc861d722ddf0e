// mubtool info FILE.mub: decodes an upgrade file as the window's open command
// does and prints what it carries.
#include "platform/gbk_text.h"
#include "platform/json_text.h"
#include "tools/mubtool/command.h"
#include "upgrade_file/decode_upgrade_file.h"
#include "upgrade_file/md5.h"
#include "upgrade_file/open_upgrade_file.h"

#include <cstdint>
#include <cstdio>

namespace mub::tool {
namespace {

enum : int { ExitIllegalOrDamaged = 2, ExitBadFormat = 3 };

constexpr const char* infoUsage =
    "usage: mubtool info [--json] FILE.mub\n"
    "\n"
    "Decodes an upgrade file and prints, one 'key: value' per line in UTF-8:\n"
    "  model, hardware, software   the file's identity texts\n"
    "  image-bytes                 length of the firmware image\n"
    "  image-md5                   MD5 of the image, lowercase hexadecimal\n"
    "With --json: one JSON object on stdout instead, also on failure:\n"
    "  {\"file\", \"valid\", \"exitCode\", then \"model\", \"hardware\", \"software\",\n"
    "   \"imageBytes\", \"imageMd5\" when valid, \"error\" when not}\n"
    "\n"
    "exit codes:\n"
    "  0  the file is valid\n"
    "  1  usage error\n"
    "  2  illegal or damaged file (also missing, unreadable, empty or held by\n"
    "     another program, which the text on stderr tells apart)\n"
    "  3  bad format (a value missing or the image not hexadecimal)\n"
    "On failure the text of the window's error box is printed on stderr.\n";

int runInfo(const std::vector<std::string>& args) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(infoUsage, stdout);
        return ExitOk;
    }
    std::vector<std::string> rest = args;
    bool json = std::erase(rest, std::string("--json")) != 0;
    if (rest.size() != 1 || (rest[0].size() > 1 && rest[0][0] == '-')) {
        std::fputs(infoUsage, stderr);
        return ExitUsage;
    }
    const std::string& path = rest[0];

    // Read by the window's own reader: a missing, unreadable, empty or held
    // file is decoded as no bytes; a held one gets the window's text for it.
    bool inUse = false;
    Bytes bytes = readUpgradeFileBytesAt(path, &inUse);
    DecodeResult result = decodeUpgradeFile(bytes);
    const std::string errorText =
        result.ok() ? std::string() : utf8(inUse ? fileInUseText() : decodeFailureText(*result.failure));
    int exitCode = ExitOk;
    if (!result.ok()) exitCode = *result.failure == DecodeFailure::BadFormat ? ExitBadFormat : ExitIllegalOrDamaged;
    if (json) {
        JsonObject object;
        object.text("file", path).boolean("valid", result.ok()).number("exitCode", exitCode);
        if (result.ok()) {
            object.text("model", utf8(result.modelId))
                .text("hardware", utf8(result.hardwareVersion))
                .text("software", utf8(result.softwareVersion))
                .number("imageBytes", static_cast<std::int64_t>(result.image.size()))
                .text("imageMd5", md5Hex(result.image));
        } else {
            object.text("error", errorText);
        }
        std::printf("%s\n", object.str().c_str());
    }
    if (!result.ok()) {
        std::fprintf(stderr, "%s\n", errorText.c_str());
        return exitCode;
    }
    if (json) return ExitOk;
    std::printf("model: %s\n", utf8(result.modelId).c_str());
    std::printf("hardware: %s\n", utf8(result.hardwareVersion).c_str());
    std::printf("software: %s\n", utf8(result.softwareVersion).c_str());
    std::printf("image-bytes: %zu\n", result.image.size());
    std::printf("image-md5: %s\n", md5Hex(result.image).c_str());
    return ExitOk;
}

MubtoolCommand infoCommand("info", "decode an upgrade file and print its model, versions and image size", &runInfo);

} // namespace
} // namespace mub::tool
