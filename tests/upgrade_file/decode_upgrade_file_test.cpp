#include "platform/gbk_text.h"
#include "upgrade_file/decode_upgrade_file.h"
#include "upgrade_file/encode_upgrade_file.h"
#include "upgrade_file/key_setup.h"
#include "upgrade_file/md5.h"
#include "upgrade_file/rc4.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace mub {
namespace {

constexpr auto Illegal = DecodeFailure::IllegalOrDamaged;
constexpr auto BadFormat = DecodeFailure::BadFormat;

const std::string kRegularBody = "id=M1\r\nISPVer=H1\r\nFirmware=S1\r\ndata=0102\r\n";

std::optional<DecodeFailure> failureOf(const Bytes& file) { return decodeUpgradeFile(file).failure; }
std::optional<DecodeFailure> failureOfBody(const std::string& body) { return failureOf(sealUpgradeBody(body)); }

// Enciphers an arbitrary packed block with the program's key.
Bytes encipher(Bytes block) {
    const std::string& key = upgradeKey();
    Rc4(std::span(reinterpret_cast<const std::uint8_t*>(key.data()), key.size())).apply(block);
    return block;
}

Bytes packedWithPayload(const std::string& payload) {
    uLongf size = compressBound(static_cast<uLong>(payload.size()));
    Bytes stream(size);
    compress2(stream.data(), &size, reinterpret_cast<const Bytef*>(payload.data()), static_cast<uLong>(payload.size()), 6);
    stream.resize(size);
    Bytes block = {0x0D, 0x0F, 0x3E, 0x03};
    auto declared = static_cast<std::uint32_t>(payload.size() + 1);
    for (int k = 0; k < 4; ++k) block.push_back(static_cast<std::uint8_t>(declared >> (8 * k)));
    block.insert(block.end(), stream.begin(), stream.end());
    return encipher(block);
}

TEST(DecodeUpgradeFile, ReadsARegularFile) {
    DecodeResult r = decodeUpgradeFile(sealUpgradeBody(kRegularBody));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.modelId, "M1");
    EXPECT_EQ(r.hardwareVersion, "H1");
    EXPECT_EQ(r.softwareVersion, "S1");
    EXPECT_EQ(r.image, (Bytes{0x01, 0x02}));
}

TEST(DecodeUpgradeFile, OuterLayerFailuresAreIllegalOrDamaged) {
    EXPECT_EQ(failureOf({}), Illegal);
    EXPECT_EQ(failureOf({0x00}), Illegal);

    SealOptions otherKey;
    otherKey.key = gbk("远航数码#472913!口今");
    EXPECT_EQ(failureOf(sealUpgradeBody(kRegularBody, otherKey)), Illegal);

    SealOptions wrongMagic;
    wrongMagic.magic = {0x0D, 0x0F, 0x3E, 0x04};
    EXPECT_EQ(failureOf(sealUpgradeBody(kRegularBody, wrongMagic)), Illegal);

    for (std::int32_t declared : {0, -1, 1 << 30}) {
        SealOptions size;
        size.declaredSize = declared;
        EXPECT_EQ(failureOf(sealUpgradeBody(kRegularBody, size)), Illegal) << declared;
    }

    Bytes file = sealUpgradeBody(kRegularBody);
    Bytes truncated(file.begin(), file.end() - 3);
    EXPECT_EQ(failureOf(truncated), Illegal);
    Bytes flipped = file;
    flipped[flipped.size() / 2] ^= 0x40;
    EXPECT_EQ(failureOf(flipped), Illegal);
}

TEST(DecodeUpgradeFile, DeclaredSizeBoundsThePayloadAtTwice) {
    std::size_t payloadSize = kRegularBody.size() + 32;
    SealOptions half;
    half.declaredSize = static_cast<std::int32_t>((payloadSize + 1) / 2);
    EXPECT_TRUE(decodeUpgradeFile(sealUpgradeBody(kRegularBody, half)).ok());
    SealOptions belowHalf;
    belowHalf.declaredSize = static_cast<std::int32_t>((payloadSize - 1) / 2);
    EXPECT_EQ(failureOf(sealUpgradeBody(kRegularBody, belowHalf)), Illegal);
    SealOptions generous;
    generous.declaredSize = (1 << 30) - 1;
    EXPECT_TRUE(decodeUpgradeFile(sealUpgradeBody(kRegularBody, generous)).ok());
}

TEST(DecodeUpgradeFile, BytesAfterTheStreamAreIgnored) {
    SealOptions trailing;
    trailing.afterStream = Bytes(100, 0xAB);
    EXPECT_TRUE(decodeUpgradeFile(sealUpgradeBody(kRegularBody, trailing)).ok());
}

TEST(DecodeUpgradeFile, DigestMustBeLowercaseMd5OfTheBody) {
    SealOptions upper;
    upper.upperCaseDigest = true;
    EXPECT_EQ(failureOf(sealUpgradeBody(kRegularBody, upper)), Illegal);

    // A digest of another body, a short payload and a digest cut by a zero
    // byte all fail.
    EXPECT_EQ(failureOf(packedWithPayload(kRegularBody + md5Hex(std::string_view("other")))), Illegal);
    EXPECT_EQ(failureOf(packedWithPayload(md5Hex(std::string_view("")).substr(1))), Illegal);
    std::string digest = md5Hex(kRegularBody);
    EXPECT_EQ(failureOf(packedWithPayload(kRegularBody + digest.substr(0, 31) + std::string(1, '\0'))), Illegal);
    EXPECT_TRUE(decodeUpgradeFile(packedWithPayload(kRegularBody + digest)).ok());

    // Exactly 32 bytes: an empty body passes the digest and then lacks every
    // value.
    EXPECT_EQ(failureOf(packedWithPayload(md5Hex(std::string_view("")))), BadFormat);
}

TEST(DecodeUpgradeFile, BodyIsReadUpToItsFirstZeroByte) {
    // The digest covers the zero byte and what follows; the fields do not.
    std::string body = "id=M\r\nISPVer=H\r\nFirmware=S\r\n" + std::string(1, '\0') + "data=00\r\n";
    EXPECT_EQ(failureOfBody(body), BadFormat);
    std::string cut = kRegularBody + std::string(1, '\0') + "id=Other\r\n";
    EXPECT_EQ(decodeUpgradeFile(sealUpgradeBody(cut)).modelId, "M1");
}

TEST(DecodeUpgradeFile, MissingOrEmptyValuesAndNonHexImagesAreBadFormat) {
    EXPECT_EQ(failureOfBody("ISPVer=H\r\nFirmware=S\r\ndata=00"), BadFormat);
    EXPECT_EQ(failureOfBody("id=M\r\nFirmware=S\r\ndata=00"), BadFormat);
    EXPECT_EQ(failureOfBody("id=M\r\nISPVer=H\r\ndata=00"), BadFormat);
    EXPECT_EQ(failureOfBody("id=M\r\nISPVer=H\r\nFirmware=S"), BadFormat);
    EXPECT_EQ(failureOfBody("id=M\r\nISPVer=H\r\nFirmware=S\r\ndata="), BadFormat);
    EXPECT_EQ(failureOfBody("id=M\r\nISPVer=H\r\nFirmware=S\r\nFirmware=\r\ndata=00"), BadFormat);
    EXPECT_EQ(failureOfBody("Id=M\r\nISPVer=H\r\nFirmware=S\r\ndata=00"), BadFormat);
    EXPECT_EQ(failureOfBody("id=M\nISPVer=H\nFirmware=S\ndata=00"), BadFormat); // bare LF: one line
    EXPECT_EQ(failureOfBody("id=M\r\nISPVer=H\r\nFirmware=S\r\ndata=00 11"), BadFormat);
    EXPECT_EQ(failureOfBody("id=M\r\nISPVer=H\r\nFirmware=S\r\ndata=0G"), BadFormat);
    EXPECT_EQ(failureOfBody("id=M\r\nISPVer=H\r\nFirmware=S\r\ndata=00\xB0\xA1"), BadFormat);
}

TEST(DecodeUpgradeFile, OddHexLengthsAndOverrides) {
    DecodeResult odd = decodeUpgradeFile(sealUpgradeBody("id=M\r\nISPVer=H\r\nFirmware=S\r\ndata=0a1B2"));
    ASSERT_TRUE(odd.ok());
    EXPECT_EQ(odd.image, (Bytes{0x0A, 0x1B}));

    DecodeResult single = decodeUpgradeFile(sealUpgradeBody("id=M\r\nISPVer=H\r\nFirmware=S\r\ndata=7"));
    ASSERT_TRUE(single.ok());
    EXPECT_TRUE(single.image.empty());

    DecodeResult later =
        decodeUpgradeFile(sealUpgradeBody("id=M\r\nFirmware=1.0\r\nISPVer=H\r\ndata=00\r\nFirmware=1.1\r\n"));
    ASSERT_TRUE(later.ok());
    EXPECT_EQ(later.softwareVersion, "1.1");
}

TEST(DecodeUpgradeFile, FilesMadeWithTheTwentyKeyBytesOpen) {
    // Files are made elsewhere with the GBK bytes of the key text; a key that
    // came out in any other encoding would still pass every round trip.
    const std::string keyBytes = "\xD4\xB6\xBA\xBD\xCA\xFD\xC2\xEB#472913!\xBF\xDA\xC1\xEE";
    ASSERT_EQ(keyBytes.size(), 20u);
    EXPECT_EQ(upgradeKey(), keyBytes);
    SealOptions madeElsewhere;
    madeElsewhere.key = keyBytes;
    EXPECT_TRUE(decodeUpgradeFile(sealUpgradeBody(kRegularBody, madeElsewhere)).ok());
}

TEST(DecodeUpgradeFile, FailureTextsAreTheTwoErrorBoxes) {
    EXPECT_EQ(utf8(decodeFailureText(Illegal)), "非法文件或文件损坏！！！\r\n请选择正确的文件。");
    EXPECT_EQ(utf8(decodeFailureText(BadFormat)), "文件格式错误！！！\r\n请选择正确的文件。");
}

TEST(EncodeUpgradeFile, RoundTripsGbkTextsAndEveryByteValue) {
    Bytes image(70000);
    for (std::size_t k = 0; k < image.size(); ++k) image[k] = static_cast<std::uint8_t>((k * 131 + k / 256) & 0xFF);
    UpgradeTexts texts{gbk("演示机型 甲"), gbk("硬件-版本1.0"), gbk("软件 2.1 (测试)")};
    std::optional<Bytes> file = encodeUpgradeFile(texts, image);
    ASSERT_TRUE(file.has_value());
    DecodeResult r = decodeUpgradeFile(*file);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.modelId, texts.modelId);
    EXPECT_EQ(r.hardwareVersion, texts.hardwareVersion);
    EXPECT_EQ(r.softwareVersion, texts.softwareVersion);
    EXPECT_EQ(r.image, image);

    // A one-byte image; a model whose "id=" is no tag because 0xB0 'i' is one
    // two-byte character; texts with spaces kept as they are.
    UpgradeTexts tricky{"\xB0id=" + gbk("号"), " 1 ", "\x81\x40"};
    ASSERT_EQ(checkValueText(tricky.modelId), TextProblem::None);
    file = encodeUpgradeFile(tricky, Bytes{0x5A});
    ASSERT_TRUE(file.has_value());
    r = decodeUpgradeFile(*file);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.modelId, tricky.modelId);
    EXPECT_EQ(r.hardwareVersion, " 1 ");
    EXPECT_EQ(r.softwareVersion, "\x81\x40");
    EXPECT_EQ(r.image, Bytes{0x5A});
}

TEST(EncodeUpgradeFile, RefusesWhatWouldNotReadBack) {
    EXPECT_EQ(checkValueText(""), TextProblem::Empty);
    EXPECT_EQ(checkValueText("a\r\nb"), TextProblem::LineBreak);
    EXPECT_EQ(checkValueText("a\nb"), TextProblem::LineBreak);
    EXPECT_EQ(checkValueText("a\rb"), TextProblem::LineBreak);
    EXPECT_EQ(checkValueText(std::string("a\0b", 3)), TextProblem::ZeroByte);
    EXPECT_EQ(checkValueText("v id=2"), TextProblem::ContainsTag);
    EXPECT_EQ(checkValueText("DATA=x"), TextProblem::ContainsTag);
    EXPECT_EQ(checkValueText("firmware=x"), TextProblem::ContainsTag);
    EXPECT_EQ(checkValueText("IspVer="), TextProblem::ContainsTag);
    EXPECT_EQ(checkValueText("id data ISPVer firmware"), TextProblem::None);

    Bytes image = {1, 2, 3};
    EXPECT_FALSE(encodeUpgradeFile({"M", "H", ""}, image).has_value());
    EXPECT_FALSE(encodeUpgradeFile({"M", "ISPVer=H", "S"}, image).has_value());
    EXPECT_FALSE(encodeUpgradeFile({"M\r\n", "H", "S"}, image).has_value());
    EXPECT_FALSE(encodeUpgradeFile({"M", "H", "S"}, Bytes{}).has_value());
}

} // namespace
} // namespace mub
