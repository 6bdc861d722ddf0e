// mubtool info FILE.mub: decodes an upgrade file as the window's open command
// does and prints what it carries.
#include "platform/gbk_text.h"
#include "platform/json_text.h"
#include "tools/mubtool/command.h"
#include "upgrade/program_version.h"
#include "upgrade_file/md5.h"
#include "upgrade_file/open_upgrade_file.h"

#include <cstdint>
#include <cstdio>

namespace mub::tool {
namespace {

constexpr const char* infoUsage =
    "usage: mubtool info [--json] FILE.mub\n"
    "\n"
    "Decodes an upgrade file and prints, one 'key: value' per line in UTF-8:\n"
    "  model, hardware, software   the file's identity texts\n"
    "  image-bytes                 length of the firmware image\n"
    "  image-md5                   MD5 of the image, lowercase hexadecimal\n"
    "With --json: one JSON object on stdout instead, also on failure:\n"
    "  {\"file\", \"valid\", \"outcome\", \"exitCode\", then \"model\", \"hardware\",\n"
    "   \"software\", \"imageBytes\", \"imageMd5\" when valid, \"error\" when not,\n"
    "   \"programVersion\"}\n"
    "outcome: valid, or why the file cannot be used: file-not-found,\n"
    "file-is-folder, file-no-permission, file-in-use, file-empty, file-too-large\n"
    "(over 64 MiB), file-not-regular (a pipe or device), file-read-error, or\n"
    "file-failure (read, but it does not decode: illegal, damaged or bad format).\n"
    "\n"
    "exit codes:\n"
    "  0  the file is valid\n"
    "  1  usage error\n"
    "  4  the file cannot be used (outcome above; as every command ends a file\n"
    "     failure)\n"
    "On failure the text of the window's error box for it is printed on stderr.\n";

int runInfo(const std::vector<std::string>& args) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(infoUsage, stdout);
        return ExitOk;
    }
    std::vector<std::string> rest = args;
    bool json = std::erase(rest, std::string("--json")) != 0;
    for (const std::string& arg : rest)
        if (arg.size() > 1 && arg[0] == '-') return usageError("info", "unknown option " + arg);
    if (rest.size() != 1)
        return usageError("info", rest.empty() ? "one FILE.mub is required" : "one FILE.mub only, also given: " + rest[1]);
    const std::string& path = rest[0];

    // Read and decoded by the window's own reader, with its texts.
    const UpgradeFileRead read = readUpgradeFileAt(path);
    const UpgradeFile& file = read.file;
    const std::string errorText = utf8(read.failureText());
    const int exitCode = read.ok() ? ExitOk : ExitFileFailure;
    if (json) {
        JsonObject object;
        object.text("file", path)
            .boolean("valid", read.ok())
            .text("outcome", read.ok() ? "valid" : read.failureOutcome())
            .number("exitCode", exitCode);
        if (read.ok()) {
            object.text("model", utf8(file.modelId))
                .text("hardware", utf8(file.hardwareVersion))
                .text("software", utf8(file.softwareVersion))
                .number("imageBytes", static_cast<std::int64_t>(file.image.size()))
                .text("imageMd5", md5Hex(file.image));
        } else {
            object.text("error", errorText);
        }
        object.text("programVersion", programVersion());
        std::printf("%s\n", object.str().c_str());
    }
    if (!read.ok()) {
        std::fprintf(stderr, "%s\n", errorText.c_str());
        return exitCode;
    }
    if (json) return ExitOk;
    std::printf("model: %s\n", utf8(file.modelId).c_str());
    std::printf("hardware: %s\n", utf8(file.hardwareVersion).c_str());
    std::printf("software: %s\n", utf8(file.softwareVersion).c_str());
    std::printf("image-bytes: %zu\n", file.image.size());
    std::printf("image-md5: %s\n", md5Hex(file.image).c_str());
    return ExitOk;
}

MubtoolCommand infoCommand("info", "decode an upgrade file and print its model, versions and image size", &runInfo);

} // namespace
} // namespace mub::tool
