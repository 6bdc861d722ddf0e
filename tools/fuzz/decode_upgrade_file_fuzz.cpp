// Fuzz target for decodeUpgradeFile. The first input byte picks the layer the
// fuzzer writes, so that mutations reach every step rather than dying at the
// cipher or the magic:
//   0: the rest is a whole file, deciphered as it is;
//   1: the rest is a packed block, enciphered here before decoding;
//   2: the rest is a body, sealed here (digest, deflate, header, cipher);
//   3: the rest is a body sealed with a chosen size field (first 4 bytes).
// Whatever the input, decoding ends in a value set or one of the two failure
// kinds; the checks below hold for every successful result.
#include "upgrade_file/decode_upgrade_file.h"
#include "upgrade_file/encode_upgrade_file.h"
#include "upgrade_file/hex_image.h"
#include "upgrade_file/key_setup.h"
#include "upgrade_file/rc4.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

void checkResult(const mub::DecodeResult& result) {
    if (!result.ok()) {
        check(result.modelId.empty() && result.hardwareVersion.empty() && result.softwareVersion.empty() &&
              result.image.empty());
        return;
    }
    check(!result.modelId.empty() && !result.hardwareVersion.empty() && !result.softwareVersion.empty());
    for (const std::string* text : {&result.modelId, &result.hardwareVersion, &result.softwareVersion})
        check(text->find('\0') == std::string::npos);
}

void writeSeed(const std::string& dir, const std::string& name, std::uint8_t mode, std::span<const std::uint8_t> rest) {
    std::FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
    if (!f) return;
    std::fputc(mode, f);
    std::fwrite(rest.data(), 1, rest.size(), f);
    std::fclose(f);
}

// With MUB_FUZZ_WRITE_SEEDS=DIR set, writes a few well-formed inputs for
// every mode into DIR and ends: a starting corpus made by the real encoder
// (tools/fuzz/seeds/decode_upgrade_file was written so).
void writeSeedsIfAsked() {
    const char* dir = std::getenv("MUB_FUZZ_WRITE_SEEDS");
    if (!dir) return;
    std::string body = "id=M1\r\nISPVer=H1\r\nFirmware=1.0\r\ndata=0A1b2\r\n";
    mub::Bytes image = {0x00, 0x7F, 0x80, 0xFF};
    mub::Bytes file = *mub::encodeUpgradeFile({"\xC4\xA3\xD0\xCD", "HW", "2.1"}, image);
    writeSeed(dir, "file", 0, file);
    mub::Bytes block = file;
    const std::string& key = mub::upgradeKey();
    mub::Rc4(std::span(reinterpret_cast<const std::uint8_t*>(key.data()), key.size())).apply(block);
    writeSeed(dir, "block", 1, block);
    writeSeed(dir, "body", 2, std::span(reinterpret_cast<const std::uint8_t*>(body.data()), body.size()));
    std::string sized = std::string("\x20\x00\x00\x00", 4) + body;
    writeSeed(dir, "sized-body", 3, std::span(reinterpret_cast<const std::uint8_t*>(sized.data()), sized.size()));
    std::exit(0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    writeSeedsIfAsked();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        checkResult(mub::decodeUpgradeFile({}));
        return 0;
    }
    std::uint8_t mode = data[0] % 4;
    std::span<const std::uint8_t> rest(data + 1, size - 1);
    switch (mode) {
    case 0:
        checkResult(mub::decodeUpgradeFile(rest));
        break;
    case 1: {
        mub::Bytes file(rest.begin(), rest.end());
        const std::string& key = mub::upgradeKey();
        mub::Rc4(std::span(reinterpret_cast<const std::uint8_t*>(key.data()), key.size())).apply(file);
        checkResult(mub::decodeUpgradeFile(file));
        break;
    }
    case 2:
    case 3: {
        mub::SealOptions options;
        if (mode == 3) {
            if (rest.size() < 4) return 0;
            std::uint32_t bits = static_cast<std::uint32_t>(rest[0]) | static_cast<std::uint32_t>(rest[1]) << 8 |
                                 static_cast<std::uint32_t>(rest[2]) << 16 | static_cast<std::uint32_t>(rest[3]) << 24;
            options.declaredSize = static_cast<std::int32_t>(bits);
            rest = rest.subspan(4);
        }
        std::string body(reinterpret_cast<const char*>(rest.data()), rest.size());
        mub::DecodeResult result = mub::decodeUpgradeFile(mub::sealUpgradeBody(body, options));
        checkResult(result);
        // A regular sealed body with the default size field only fails on its
        // fields, never on the outer layers.
        if (mode == 2) check(result.ok() || *result.failure == mub::DecodeFailure::BadFormat);
        break;
    }
    }
    return 0;
}
