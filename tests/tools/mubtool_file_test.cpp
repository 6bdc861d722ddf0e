// mubtool info and pack, run as the real program.
#include "platform/gbk_text.h"
#include "upgrade_file/decode_upgrade_file.h"
#include "upgrade_file/encode_upgrade_file.h"
#include "upgrade_file/md5.h"
#include "upgrade_file/open_upgrade_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace mub {
namespace {

namespace fs = std::filesystem;

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class MubtoolFile : public ::testing::Test {
protected:
    void SetUp() override {
        const char* binDir = std::getenv("MUB_BIN_DIR");
        ASSERT_NE(binDir, nullptr) << "MUB_BIN_DIR must point at the built programs";
        mubtool_ = fs::path(binDir) / "mubtool";
        ASSERT_TRUE(fs::exists(mubtool_));
        std::string pattern = (fs::temp_directory_path() / "mubtool_file_XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        image_.resize(5000);
        for (std::size_t k = 0; k < image_.size(); ++k) image_[k] = static_cast<std::uint8_t>(k * 37 + 11);
        writeBytes(dir_ / "image.bin", image_);
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    RunResult run(std::vector<std::string> args) {
        args.insert(args.begin(), mubtool_.string());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        fs::path outPath = dir_ / "stdout", errPath = dir_ / "stderr";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        RunResult result;
        int rc = posix_spawn(&pid, mubtool_.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(rc, 0);
        if (rc != 0) return result;
        int status = 0;
        ::waitpid(pid, &status, 0);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = readText(outPath);
        result.err = readText(errPath);
        return result;
    }

    RunResult pack(const std::string& model, const std::string& hardware, const std::string& software,
                   const std::string& out = "out.mub") {
        return run({"pack", "--model", model, "--hardware", hardware, "--software", software,
                    (dir_ / "image.bin").string(), "-o", (dir_ / out).string()});
    }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    fs::path mubtool_;
    fs::path dir_;
    Bytes image_;
};

const std::string kIllegalText = "非法文件或文件损坏！！！\r\n请选择正确的文件。";
const std::string kBadFormatText = "文件格式错误！！！\r\n请选择正确的文件。";

TEST_F(MubtoolFile, InfoPrintsWhatPackStored) {
    RunResult packed = pack("演示机型", "HW-1.0", "软件 2.1");
    ASSERT_EQ(packed.exitCode, 0) << packed.err;

    RunResult info = run({"info", path("out.mub")});
    EXPECT_EQ(info.exitCode, 0) << info.err;
    EXPECT_EQ(info.out, "model: 演示机型\nhardware: HW-1.0\nsoftware: 软件 2.1\nimage-bytes: 5000\nimage-md5: " +
                            md5Hex(image_) + "\n");
    EXPECT_EQ(info.err, "");
    RunResult json = run({"info", "--json", path("out.mub")});
    EXPECT_EQ(json.exitCode, 0) << json.err;
    EXPECT_EQ(json.out, "{\"file\": \"" + path("out.mub") +
                            "\", \"valid\": true, \"exitCode\": 0, \"model\": \"演示机型\", \"hardware\": \"HW-1.0\", "
                            "\"software\": \"软件 2.1\", \"imageBytes\": 5000, \"imageMd5\": \"" +
                            md5Hex(image_) + "\"}\n");

    // The file holds the texts in GBK, exactly as the window reads them.
    std::string raw = readText(path("out.mub"));
    DecodeResult decoded = decodeUpgradeFile(Bytes(raw.begin(), raw.end()));
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded.modelId, gbk("演示机型"));
    EXPECT_EQ(decoded.softwareVersion, gbk("软件 2.1"));
    EXPECT_EQ(decoded.image, image_);
}

TEST_F(MubtoolFile, InfoExitCodesFollowTheFailureKinds) {
    RunResult missing = run({"info", path("missing.mub")});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_EQ(missing.err, kIllegalText + "\n");
    EXPECT_EQ(missing.out, "");
    // For scripts the failure is an object too; the box text's line break escaped.
    RunResult missingJson = run({"info", path("missing.mub"), "--json"});
    EXPECT_EQ(missingJson.exitCode, 2);
    EXPECT_EQ(missingJson.out, "{\"file\": \"" + path("missing.mub") +
                                   "\", \"valid\": false, \"exitCode\": 2, \"error\": \"非法文件或文件损坏！！！\\r\\n"
                                   "请选择正确的文件。\"}\n");

    writeBytes(path("empty.mub"), {});
    EXPECT_EQ(run({"info", path("empty.mub")}).exitCode, 2);
    EXPECT_EQ(run({"info", dir_.string()}).exitCode, 2); // a folder is no file
    ASSERT_EQ(::mkfifo(path("fifo.mub").c_str(), 0600), 0);
    EXPECT_EQ(run({"info", path("fifo.mub")}).exitCode, 2); // nor a pipe without writer

    ASSERT_EQ(pack("M", "H", "S").exitCode, 0);
    std::string raw = readText(path("out.mub"));
    raw[raw.size() / 2] = static_cast<char>(raw[raw.size() / 2] ^ 0x10);
    writeBytes(path("damaged.mub"), Bytes(raw.begin(), raw.end()));
    EXPECT_EQ(run({"info", path("damaged.mub")}).exitCode, 2);

    // A file another program holds locked is refused as the window refuses
    // it, as in use (after about two seconds of tries).
    int holder = ::open(path("out.mub").c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_SH), 0);
    RunResult locked = run({"info", path("out.mub")});
    RunResult lockedUpgrade = run({"upgrade", "--port", "COM1", path("out.mub")});
    ::close(holder);
    EXPECT_EQ(locked.exitCode, 2);
    EXPECT_EQ(locked.err, utf8(fileInUseText()) + "\n");
    EXPECT_EQ(lockedUpgrade.exitCode, 4); // the file failure, before any port is opened
    EXPECT_EQ(run({"info", path("out.mub")}).exitCode, 0);

    writeBytes(path("noid.mub"), sealUpgradeBody("ISPVer=H\r\nFirmware=S\r\ndata=00\r\n"));
    RunResult badFormat = run({"info", path("noid.mub")});
    EXPECT_EQ(badFormat.exitCode, 3);
    EXPECT_EQ(badFormat.err, kBadFormatText + "\n");
    writeBytes(path("nothex.mub"), sealUpgradeBody("id=M\r\nISPVer=H\r\nFirmware=S\r\ndata=0x00\r\n"));
    EXPECT_EQ(run({"info", path("nothex.mub")}).exitCode, 3);

    EXPECT_EQ(run({"info"}).exitCode, 1);
    EXPECT_EQ(run({"info", path("out.mub"), path("out.mub")}).exitCode, 1);
    EXPECT_EQ(run({"info", "--bogus"}).exitCode, 1);
    RunResult help = run({"info", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("usage: mubtool info"), std::string::npos);
}

TEST_F(MubtoolFile, PackRefusesTextsThatWouldNotReadBack) {
    const std::vector<std::vector<std::string>> refused = {
        {"机型😀", "H", "S"},     // no GBK code
        {"M", "H\nX", "S"},       // line break
        {"M", "H", "1.0\r"},      // carriage return
        {"M", "v ispver=2", "S"}, // a tag in another letter case
        {"M", "H", "data="},
        {"", "H", "S"},
    };
    for (const auto& texts : refused) {
        RunResult r = pack(texts[0], texts[1], texts[2]);
        EXPECT_EQ(r.exitCode, 1) << texts[0] << "|" << texts[1] << "|" << texts[2];
        EXPECT_NE(r.err.find("mubtool pack:"), std::string::npos);
        EXPECT_FALSE(fs::exists(path("out.mub")));
    }
}

TEST_F(MubtoolFile, PackUsageAndFileErrors) {
    std::string image = path("image.bin");
    EXPECT_EQ(run({"pack", "--model", "M", "--hardware", "H", image, "-o", path("a.mub")}).exitCode, 1);
    EXPECT_EQ(run({"pack", "--model", "M", "--hardware", "H", "--software", "S", image}).exitCode, 1);
    EXPECT_EQ(run({"pack", "--model", "M", "--model", "N", "--hardware", "H", "--software", "S", image, "-o",
                   path("a.mub")})
                  .exitCode,
              1);
    EXPECT_EQ(run({"pack", "--model", "M", "--hardware", "H", "--software", "S", "--colour", "red", image, "-o",
                   path("a.mub")})
                  .exitCode,
              1);
    EXPECT_EQ(run({"pack", "--help"}).exitCode, 0);

    writeBytes(path("empty.bin"), {});
    EXPECT_EQ(run({"pack", "--model", "M", "--hardware", "H", "--software", "S", path("empty.bin"), "-o",
                   path("a.mub")})
                  .exitCode,
              1);
    EXPECT_EQ(run({"pack", "--model", "M", "--hardware", "H", "--software", "S", path("none.bin"), "-o",
                   path("a.mub")})
                  .exitCode,
              4);
    EXPECT_EQ(run({"pack", "--model", "M", "--hardware", "H", "--software", "S", image, "-o",
                   path("no/such/folder/a.mub")})
                  .exitCode,
              4);
    EXPECT_FALSE(fs::exists(path("a.mub")));

    // --name=VALUE works too, and a second pack replaces the file whole.
    ASSERT_EQ(run({"pack", "--model=M1", "--hardware=H", "--software=S", image, "--output=" + path("a.mub")}).exitCode,
              0);
    ASSERT_EQ(run({"pack", "--model=M2", "--hardware=H", "--software=S", image, "-o", path("a.mub")}).exitCode, 0);
    RunResult info = run({"info", path("a.mub")});
    EXPECT_EQ(info.out.substr(0, info.out.find('\n')), "model: M2");
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_)) ++entries;
    EXPECT_EQ(entries, 5u); // image.bin, empty.bin, a.mub, stdout, stderr: no temporary left
}

} // namespace
} // namespace mub
