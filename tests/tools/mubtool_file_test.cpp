// mubtool info and pack, run as the real program.
#include "platform/gbk_text.h"
#include "upgrade/program_version.h"
#include "upgrade_file/decode_upgrade_file.h"
#include "upgrade_file/encode_upgrade_file.h"
#include "upgrade_file/md5.h"
#include "upgrade_file/open_upgrade_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
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

    // `asNobody`: as a user who is not root (setpriv), when the test is root.
    RunResult run(std::vector<std::string> args, bool asNobody = false) {
        args.insert(args.begin(), mubtool_.string());
        if (asNobody && ::geteuid() == 0)
            args.insert(args.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
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
        int rc = posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ);
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
                            "\", \"valid\": true, \"outcome\": \"valid\", \"exitCode\": 0, \"model\": \"演示机型\", "
                            "\"hardware\": \"HW-1.0\", \"software\": \"软件 2.1\", \"imageBytes\": 5000, \"imageMd5\": \"" +
                            md5Hex(image_) + "\", \"programVersion\": \"" + programVersion() + "\"}\n");

    // The file holds the texts in GBK, exactly as the window reads them.
    std::string raw = readText(path("out.mub"));
    DecodeResult decoded = decodeUpgradeFile(Bytes(raw.begin(), raw.end()));
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded.modelId, gbk("演示机型"));
    EXPECT_EQ(decoded.softwareVersion, gbk("软件 2.1"));
    EXPECT_EQ(decoded.image, image_);
}

// Each reason a file cannot be used has its own words on stderr (the
// window's box) and its own outcome; all end with the file failure's code.
TEST_F(MubtoolFile, InfoTellsEachReasonAFileCannotBeUsedInItsOwnWords) {
    ASSERT_EQ(pack("M", "H", "S").exitCode, 0);
    std::string raw = readText(path("out.mub"));
    raw[raw.size() / 2] = static_cast<char>(raw[raw.size() / 2] ^ 0x10);
    writeBytes(path("damaged.mub"), Bytes(raw.begin(), raw.end()));
    writeBytes(path("noid.mub"), sealUpgradeBody("ISPVer=H\r\nFirmware=S\r\ndata=00\r\n"));
    writeBytes(path("empty.mub"), {});
    fs::create_directory(path("folder.mub"));
    ASSERT_EQ(::mkfifo(path("fifo.mub").c_str(), 0600), 0); // must not wait for a writer
    { std::ofstream(path("huge.mub")); }
    fs::resize_file(path("huge.mub"), maxUpgradeFileBytes + 1); // sparse: refused before reading
    writeBytes(path("secret.mub"), Bytes(raw.begin(), raw.end()));
    ::chmod(path("secret.mub").c_str(), 0);
    ::chmod(dir_.c_str(), 0755);
    int holder = ::open(path("out.mub").c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_SH), 0);

    struct Case {
        std::string name, outcome, text;
        bool asNobody = false;
    };
    const std::vector<Case> cases = {
        {"missing.mub", "file-not-found", utf8(fileReadFailureText(FileReadFailure::NotFound))},
        {"folder.mub", "file-is-folder", utf8(fileReadFailureText(FileReadFailure::Folder))},
        {"secret.mub", "file-no-permission", utf8(fileReadFailureText(FileReadFailure::NoPermission)), true},
        {"out.mub", "file-in-use", utf8(fileReadFailureText(FileReadFailure::InUse))},
        {"empty.mub", "file-empty", utf8(fileReadFailureText(FileReadFailure::Empty))},
        {"huge.mub", "file-too-large", utf8(fileReadFailureText(FileReadFailure::TooLarge))},
        {"fifo.mub", "file-not-regular", utf8(fileReadFailureText(FileReadFailure::NotAFile))},
        {"damaged.mub", "file-failure", kIllegalText},
        {"noid.mub", "file-failure", kBadFormatText},
    };
    std::set<std::string> texts;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunResult r = run({"info", "--json", path(c.name)}, c.asNobody);
        EXPECT_EQ(r.exitCode, 4) << r.err;
        EXPECT_EQ(r.err, c.text + "\n");
        EXPECT_NE(r.out.find("\"outcome\": \"" + c.outcome + "\""), std::string::npos) << r.out;
        texts.insert(c.text);
    }
    ::close(holder);
    EXPECT_EQ(texts.size(), cases.size()); // no two reasons share their words
    EXPECT_NE(texts.count("找不到文件！！！\r\n文件已被移动、改名或删除，请选择正确的文件。"), 0u);

    // The plain form prints the same text; a file let go of reads again.
    RunResult missing = run({"info", path("missing.mub")});
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, cases[0].text + "\n");
    EXPECT_EQ(run({"info", path("out.mub")}).exitCode, 0);
}

// The same kind of ending has the same code in every command: a file
// failure is 4, before any port is opened; the log and the JSON report of
// an upgrade name the reason and the program's version.
TEST_F(MubtoolFile, EveryCommandEndsAFileFailureWithTheSameCode) {
    const std::string missing = path("missing.mub");
    EXPECT_EQ(run({"info", missing}).exitCode, 4);
    EXPECT_EQ(run({"station", "--ports", "COM1", missing}).exitCode, 4);
    EXPECT_EQ(run({"pack", "--model", "M", "--hardware", "H", "--software", "S", path("none.bin"), "-o",
                   path("a.mub")})
                  .exitCode,
              4);
    RunResult upgrade = run({"upgrade", "--port", "COM1", "--json", "--log", path("log.csv"), missing});
    EXPECT_EQ(upgrade.exitCode, 4);
    EXPECT_NE(upgrade.out.find("\"outcome\": \"file-not-found\", \"exitCode\": 4"), std::string::npos) << upgrade.out;
    EXPECT_NE(upgrade.out.find("\"programVersion\": \"" + programVersion() + "\"}"), std::string::npos);
    const std::string log = readText(path("log.csv"));
    EXPECT_NE(log.find(",\"file-not-found\",4,"), std::string::npos) << log;
    EXPECT_NE(log.find(",\"" + programVersion() + "\",\""), std::string::npos) << log;
}

// A usage error is one line naming what is wrong and the value given, then
// where the help is; the help only when asked.
TEST_F(MubtoolFile, UsageErrorsAreOneLineThatPointsToTheHelp) {
    const std::string file = path("a.mub");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"upgrade", "--port", "COM1", "--baud", "12345", file}, "mubtool upgrade: "},
        {{"upgrade", "--port", "COM999", file}, "mubtool upgrade: --port COM999"},
        {{"detect", "--port", "COM1", "extra"}, "mubtool detect: "},
        {{"station", "--ports", "COM1", "--count", "zero", file}, "mubtool station: --count zero"},
        {{"info", "--bogus", file}, "mubtool info: unknown option --bogus"},
        {{"info", file, file}, "mubtool info: one FILE.mub only"},
        {{"pack", "--colour", "red"}, "mubtool pack: "},
    };
    for (const auto& [args, start] : cases) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        RunResult r = run(args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err.rfind(start, 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
        EXPECT_NE(r.err.find("\nsee 'mubtool " + args[0] + " --help'\n"), std::string::npos) << r.err;
    }
    EXPECT_NE(run({"upgrade", "--port", "COM1", "--baud", "12345", file}).err.find("12345"), std::string::npos);
    RunResult unknown = run({"frobnicate"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_EQ(unknown.err, "mubtool: unknown command 'frobnicate'\nsee 'mubtool --help'\n");
    RunResult help = run({"info", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("usage: mubtool info"), std::string::npos);
}

TEST_F(MubtoolFile, VersionNamesTheBuild) {
    RunResult version = run({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "mubtool " + programVersion() + "\n");
    EXPECT_EQ(programVersion().rfind("1.0.0", 0), 0u);
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
              4);
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
