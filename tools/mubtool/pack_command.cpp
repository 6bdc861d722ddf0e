// mubtool pack: makes an upgrade file from a firmware image and the three
// identity texts.
#include "platform/gbk_text.h"
#include "tools/mubtool/command.h"
#include "tools/mubtool/upgrade_file_io.h"
#include "upgrade_file/encode_upgrade_file.h"

#include <cstdio>
#include <map>

namespace mub::tool {
namespace {

constexpr const char* packUsage =
    "usage: mubtool pack --model M --hardware H --software S IMAGE.bin -o OUT.mub\n"
    "\n"
    "Packs the firmware image IMAGE.bin into an upgrade file for machine model M,\n"
    "hardware version H and software version S. The texts are given in UTF-8 and\n"
    "stored in GBK; each must be non-empty, representable in GBK, on one line and\n"
    "free of the tags id=, ISPVer=, Firmware= and data= (in any letter case).\n"
    "OUT.mub is replaced only once it is complete.\n"
    "\n"
    "options (also as --name=VALUE):\n"
    "  --model M          machine model the file is made for\n"
    "  --hardware H       hardware version the file fits\n"
    "  --software S       software version the image contains\n"
    "  -o, --output OUT   the upgrade file to write\n"
    "\n"
    "exit codes:\n"
    "  0  written\n"
    "  1  usage error, or a text that cannot be packed\n"
    "  4  IMAGE.bin cannot be read or is empty or too large, or OUT.mub cannot\n"
    "     be written (as every command ends a file failure)\n";

struct PackArgs {
    std::map<std::string, std::string> texts; // "model", "hardware", "software" -> UTF-8
    std::string image;
    std::string output;
};


// Parses the arguments; an error message when they are not usable.
std::optional<std::string> parseArgs(const std::vector<std::string>& args, PackArgs& out) {
    std::vector<std::string> positional;
    for (std::size_t k = 0; k < args.size(); ++k) {
        std::string arg = args[k];
        if (arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
            continue;
        }
        std::optional<std::string> inlineValue;
        if (std::size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
        }
        std::string name;
        if (arg == "--model" || arg == "--hardware" || arg == "--software") name = arg.substr(2);
        else if (arg == "-o" || arg == "--output") name = "output";
        else return "unknown option " + arg;
        std::string value;
        if (inlineValue) value = *inlineValue;
        else if (k + 1 < args.size()) value = args[++k];
        else return "missing value for " + arg;
        bool repeated = name == "output" ? !out.output.empty() : out.texts.count(name) > 0;
        if (repeated) return arg + " given twice";
        if (name == "output") out.output = value;
        else out.texts[name] = value;
    }
    for (const char* name : {"model", "hardware", "software"})
        if (!out.texts.count(name)) return std::string("missing --") + name;
    if (out.output.empty()) return std::string("missing -o OUT.mub");
    if (positional.size() != 1) return std::string(positional.empty() ? "missing IMAGE.bin" : "more than one IMAGE.bin");
    out.image = positional[0];
    return std::nullopt;
}

// The GBK form of a text, or why it cannot be stored.
std::optional<std::string> storableText(const std::string& name, const std::string& text, std::string& gbkText) {
    gbkText = gbk(text);
    // A character GBK has no code for (or bytes that are no UTF-8) would come
    // back as something else.
    if (utf8(gbkText) != text) return "--" + name + " '" + text + "' cannot be written in GBK";
    switch (checkValueText(gbkText)) {
    case TextProblem::None: return std::nullopt;
    case TextProblem::Empty: return "--" + name + " must not be empty";
    case TextProblem::LineBreak: return "--" + name + " must not contain a line break (CR or LF)";
    case TextProblem::ZeroByte: return "--" + name + " must not contain a zero byte";
    case TextProblem::ContainsTag:
        return "--" + name + " '" + text + "' must not contain a tag (id=, ISPVer=, Firmware=, data=)";
    }
    return std::nullopt;
}

int runPack(const std::vector<std::string>& args) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(packUsage, stdout);
        return ExitOk;
    }
    PackArgs parsed;
    if (auto error = parseArgs(args, parsed)) return usageError("pack", *error);

    UpgradeTexts texts;
    std::string* targets[] = {&texts.modelId, &texts.hardwareVersion, &texts.softwareVersion};
    const char* names[] = {"model", "hardware", "software"};
    for (int k = 0; k < 3; ++k) {
        if (auto problem = storableText(names[k], parsed.texts[names[k]], *targets[k])) {
            return usageError("pack", *problem);
        }
    }

    std::optional<Bytes> image = readWholeFile(parsed.image);
    if (!image) {
        std::fprintf(stderr, "mubtool pack: cannot read image file %s\n", parsed.image.c_str());
        return ExitFileFailure;
    }
    if (image->empty()) {
        std::fprintf(stderr, "mubtool pack: image file %s is empty\n", parsed.image.c_str());
        return ExitFileFailure;
    }
    std::optional<Bytes> file = encodeUpgradeFile(texts, *image);
    if (!file) {
        std::fprintf(stderr, "mubtool pack: image file %s (%zu bytes) is too large: the upgrade file would be over 64 MiB, "
                     "which no reader takes\n",
                     parsed.image.c_str(), image->size());
        return ExitFileFailure;
    }
    if (auto error = writeWholeFile(parsed.output, *file)) {
        std::fprintf(stderr, "mubtool pack: cannot write %s: %s\n", parsed.output.c_str(), error->c_str());
        return ExitFileFailure;
    }
    return ExitOk;
}

MubtoolCommand packCommand("pack", "make an upgrade file from a firmware image and its model and versions", &runPack);

} // namespace
} // namespace mub::tool
