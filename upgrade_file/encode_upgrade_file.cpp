#include "upgrade_file/encode_upgrade_file.h"

#include "platform/gbk_text.h"
#include "upgrade_file/file_read_failure.h"
#include "upgrade_file/hex_image.h"
#include "upgrade_file/key_setup.h"
#include "upgrade_file/md5.h"
#include "upgrade_file/rc4.h"
#include "upgrade_file/tag_lines.h"

#include <algorithm>
#include <cctype>
#include <zlib.h>

namespace mub {
namespace {

Bytes deflateAll(std::string_view payload) {
    uLong bound = compressBound(static_cast<uLong>(payload.size()));
    Bytes out(bound);
    uLongf outSize = bound;
    if (compress2(out.data(), &outSize, reinterpret_cast<const Bytef*>(payload.data()),
                  static_cast<uLong>(payload.size()), Z_BEST_COMPRESSION) != Z_OK)
        return {};
    out.resize(outSize);
    return out;
}

void appendInt32Le(Bytes& out, std::int32_t value) {
    auto bits = static_cast<std::uint32_t>(value);
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(bits >> (8 * k)));
}

} // namespace

TextProblem checkValueText(std::string_view gbkText) {
    if (gbkText.empty()) return TextProblem::Empty;
    if (gbkText.find_first_of("\r\n") != std::string_view::npos) return TextProblem::LineBreak;
    if (gbkText.find('\0') != std::string_view::npos) return TextProblem::ZeroByte;
    for (std::string_view tag : kUpgradeTags)
        if (removeAllIgnoringAsciiCase(gbkText, tag) != gbkText) return TextProblem::ContainsTag;
    return TextProblem::None;
}

Bytes sealUpgradeBody(std::string_view body, const SealOptions& options) {
    std::string payload(body);
    std::string digest = md5Hex(body);
    if (options.upperCaseDigest)
        std::transform(digest.begin(), digest.end(), digest.begin(),
                       [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    payload += digest;

    Bytes file(options.magic.begin(), options.magic.end());
    std::int32_t declared = options.declaredSize.value_or(
        static_cast<std::int32_t>(std::min<std::size_t>(payload.size(), INT32_MAX)));
    appendInt32Le(file, declared);
    Bytes stream = deflateAll(payload);
    file.insert(file.end(), stream.begin(), stream.end());
    file.insert(file.end(), options.afterStream.begin(), options.afterStream.end());

    const std::string& key = options.key ? *options.key : upgradeKey();
    Rc4(std::span(reinterpret_cast<const std::uint8_t*>(key.data()), key.size())).apply(file);
    return file;
}

std::string upgradeBody(const UpgradeTexts& texts, std::span<const std::uint8_t> image) {
    std::string body;
    body.reserve(64 + texts.modelId.size() + texts.hardwareVersion.size() + texts.softwareVersion.size() +
                 2 * image.size());
    body.append("id=").append(texts.modelId).append("\r\n");
    body.append("ISPVer=").append(texts.hardwareVersion).append("\r\n");
    body.append("Firmware=").append(texts.softwareVersion).append("\r\n");
    body.append("data=").append(imageToHex(image)).append("\r\n");
    return body;
}

std::optional<Bytes> encodeUpgradeFile(const UpgradeTexts& texts, std::span<const std::uint8_t> image) {
    for (const std::string* text : {&texts.modelId, &texts.hardwareVersion, &texts.softwareVersion})
        if (checkValueText(*text) != TextProblem::None) return std::nullopt;
    if (image.empty() || image.size() > kMaxPayloadBytes / 2) return std::nullopt;
    std::string body = upgradeBody(texts, image);
    if (body.size() + 32 > kMaxPayloadBytes) return std::nullopt;
    Bytes file = sealUpgradeBody(body);
    // Never a file that the reader would refuse as too large.
    if (file.size() > maxUpgradeFileBytes) return std::nullopt;
    return file;
}

} // namespace mub
