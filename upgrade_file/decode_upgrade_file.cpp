#include "upgrade_file/decode_upgrade_file.h"

#include "platform/gbk_text.h"
#include "upgrade_file/hex_image.h"
#include "upgrade_file/key_setup.h"
#include "upgrade_file/md5.h"
#include "upgrade_file/packed_block.h"
#include "upgrade_file/rc4.h"
#include "upgrade_file/tag_lines.h"

#include <new>

namespace mub {
namespace {

constexpr std::size_t kDigestLength = 32;

DecodeResult failed(DecodeFailure kind) {
    DecodeResult result;
    result.failure = kind;
    return result;
}

std::string_view asText(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

DecodeResult decodeLayers(std::span<const std::uint8_t> fileBytes) {
    // Decipher: the whole file is one RC4 ciphertext.
    const std::string& key = upgradeKey();
    Bytes block(fileBytes.begin(), fileBytes.end());
    Rc4(std::span(reinterpret_cast<const std::uint8_t*>(key.data()), key.size())).apply(block);

    // Unpack; an unpacking failure leaves an empty payload for the digest
    // check to reject.
    Payload payload = unpackBlock(block);
    block = Bytes(); // the ciphertext copy is no longer needed
    std::span<const std::uint8_t> payloadBytes = payload.bytes();

    // Digest: the last 32 bytes, as text up to a zero byte, must be the
    // lowercase MD5 of everything before them.
    if (payloadBytes.size() < kDigestLength) return failed(DecodeFailure::IllegalOrDamaged);
    std::span<const std::uint8_t> body = payloadBytes.first(payloadBytes.size() - kDigestLength);
    std::string_view digestText = upToFirstNul(asText(payloadBytes.last(kDigestLength)));
    if (digestText != md5Hex(body)) return failed(DecodeFailure::IllegalOrDamaged);

    // Fields.
    TagValues values = parseTagLines(upToFirstNul(asText(body)));
    if (!values.complete()) return failed(DecodeFailure::BadFormat);

    // Image.
    std::optional<Bytes> image = hexToImage(values.data);
    if (!image) return failed(DecodeFailure::BadFormat);

    DecodeResult result;
    result.modelId = std::move(values.modelId);
    result.hardwareVersion = std::move(values.hardwareVersion);
    result.softwareVersion = std::move(values.softwareVersion);
    result.image = std::move(*image);
    return result;
}

} // namespace

DecodeResult decodeUpgradeFile(std::span<const std::uint8_t> fileBytes) {
    try {
        return decodeLayers(fileBytes);
    } catch (const std::bad_alloc&) {
        // A file too large to be held in its decoded layers cannot be read.
        return failed(DecodeFailure::IllegalOrDamaged);
    }
}

const std::string& decodeFailureText(DecodeFailure failure) {
    static const std::string illegalOrDamaged = gbk("非法文件或文件损坏！！！\r\n请选择正确的文件。");
    static const std::string badFormat = gbk("文件格式错误！！！\r\n请选择正确的文件。");
    return failure == DecodeFailure::BadFormat ? badFormat : illegalOrDamaged;
}

} // namespace mub
