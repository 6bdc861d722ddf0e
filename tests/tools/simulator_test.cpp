// The simulated machine (`mubtool simulate`) driven byte by byte from the
// tool's end of its pseudo-terminal: identification, the upgrade side with
// its checks and faults, pacing, reports, and surviving reopened ports.
#include "link/frame.h"
#include "platform/gbk_text.h"
#include "tests/support/simulator_process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace mub {
namespace {

using test::SimulatorProcess;
namespace fs = std::filesystem;

// The tool's end of the line, opened raw.
class ToolEnd {
public:
    explicit ToolEnd(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY);
        termios tio{};
        if (fd_ >= 0 && ::tcgetattr(fd_, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~ToolEnd() { close(); }
    bool ok() const { return fd_ >= 0; }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    void send(const Bytes& bytes) const {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Up to `count` bytes, waiting at most `timeoutMs` in all.
    Bytes take(std::size_t count, int timeoutMs = 2000) const {
        Bytes got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < count) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            std::uint8_t buffer[256];
            ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
            if (n <= 0) break;
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

private:
    int fd_ = -1;
};

Bytes blockPacket(std::uint8_t number, const Bytes& image, std::size_t block) {
    Bytes packet{0x01, number, static_cast<std::uint8_t>(0xFF - number)};
    for (std::size_t i = 0; i < 128; ++i) {
        std::size_t at = block * 128 + i;
        packet.push_back(at < image.size() ? image[at] : 0xFF);
    }
    std::uint32_t sum = checksum16(packet.data() + 3, 128);
    packet.push_back(static_cast<std::uint8_t>(sum >> 8));
    packet.push_back(static_cast<std::uint8_t>(sum & 0xFF));
    return packet;
}

// Begin byte, answers to "M", "P", "F"; true when "C" follows.
bool beginUpgrade(const ToolEnd& tool, bool expectReady = true, const char* software = "1.00") {
    tool.send(Bytes{0x5E});
    const char* texts[] = {"QM-3000", "HW-1.0", software};
    for (int i = 0; i < 3; ++i) {
        Bytes request = tool.take(1);
        if (request != Bytes{static_cast<std::uint8_t>("MPF"[i])}) return false;
        tool.send(buildFrame(std::string_view(texts[i])));
    }
    return expectReady ? tool.take(1) == Bytes{'C'} : tool.take(1, 300).empty();
}

Bytes testImage(std::size_t size) {
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>((i * 7 + i / 256) & 0xFF);
    return image;
}

std::string reportOf(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The report once it holds `text` (it is rewritten when a transfer ends), or
// what it holds after two seconds.
std::string reportWith(const std::string& path, const std::string& text) {
    std::string report;
    for (int i = 0; i < 100; ++i) {
        report = reportOf(path);
        if (report.find(text) != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return report;
}

struct Simulator : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() / ("mub-sim-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string file(const char* name) const { return (dir / name).string(); }
};

TEST_F(Simulator, AnswersTheIdentificationWithGbkTextsAndPadding) {
    SimulatorProcess machine({"--model", "机型甲", "--hardware", "H2", "--pad", "3"});
    ASSERT_TRUE(machine.started());
    ToolEnd tool(machine.path());
    ASSERT_TRUE(tool.ok());
    tool.send(Bytes{0x7F});
    EXPECT_EQ(tool.take(4), toBytes("QMTV"));
    tool.send(toBytes("QMTV"));
    EXPECT_EQ(tool.take(4), toBytes("QMTV"));
    tool.send(Bytes{'M'});
    Bytes model = toBytes(gbk("机型甲"));
    model.insert(model.end(), 3, 0);
    EXPECT_EQ(tool.take(model.size() + 5), buildFrame(model));
    tool.send(Bytes{'P'});
    EXPECT_EQ(tool.take(10), buildFrame(Bytes{'H', '2', 0, 0, 0}));
}

TEST_F(Simulator, KeepsWorkingWhenThePortIsClosedAndOpenedAgain) {
    SimulatorProcess machine;
    ASSERT_TRUE(machine.started());
    for (int round = 0; round < 3; ++round) {
        ToolEnd tool(machine.path());
        ASSERT_TRUE(tool.ok());
        tool.send(Bytes{0x7F});
        EXPECT_EQ(tool.take(4), toBytes("QMTV")) << round;
    }
}

TEST_F(Simulator, FaultsWhileIdentifying) {
    SimulatorProcess machine({"--no-confirm", "--corrupt-frames", "1", "--corrupt-requests", "F"});
    ASSERT_TRUE(machine.started());
    ToolEnd tool(machine.path());
    tool.send(toBytes("QMTV"));
    EXPECT_TRUE(tool.take(4, 300).empty());
    tool.send(Bytes{'M'}); // M is not in the corrupted set
    EXPECT_TRUE(checkFrame(tool.take(12)).has_value());
    tool.send(Bytes{'F'});
    EXPECT_FALSE(checkFrame(tool.take(9)).has_value());
    tool.send(Bytes{'F'});
    EXPECT_TRUE(checkFrame(tool.take(9)).has_value());

    SimulatorProcess silent({"--silent"});
    ASSERT_TRUE(silent.started());
    ToolEnd quiet(silent.path());
    quiet.send(Bytes{0x7F, 'M'});
    EXPECT_TRUE(quiet.take(1, 300).empty());
}

TEST_F(Simulator, ReceivesAnImageAndSavesItExactly) {
    const Bytes image = testImage(1000); // not a multiple of 128: the last block is padded
    SimulatorProcess machine({"--save-image", file("got.bin"), "--report", file("report.json")});
    ASSERT_TRUE(machine.started());
    ToolEnd tool(machine.path());
    ASSERT_TRUE(beginUpgrade(tool));
    for (std::size_t block = 0; block < 8; ++block) {
        tool.send(blockPacket(static_cast<std::uint8_t>(block + 1), image, block));
        ASSERT_EQ(tool.take(1), Bytes{0x06}) << block;
    }
    tool.send(Bytes{0x04, 0, 0, 0});
    // The report is written once the end packet is handled.
    const std::string report = reportWith(file("report.json"), "completed");
    EXPECT_NE(report.find("\"result\": \"completed\""), std::string::npos) << report;
    EXPECT_NE(report.find("\"blocks\": 8,"), std::string::npos) << report;
    // The transfer's time is there once it completed (-1 before).
    const std::size_t seconds = report.find("\"transferSeconds\": ");
    ASSERT_NE(seconds, std::string::npos) << report;
    EXPECT_GT(std::stod(report.substr(seconds + 19)), 0.0) << report;
    EXPECT_NE(report.find("\"identity\": {\"model\": \"QM-3000\", \"hardware\": \"HW-1.0\", \"software\": \"1.00\"}"),
              std::string::npos)
        << report;
    std::ifstream saved(file("got.bin"), std::ios::binary);
    Bytes got{std::istreambuf_iterator<char>(saved), std::istreambuf_iterator<char>()};
    EXPECT_EQ(got, image);
}

TEST_F(Simulator, ChecksBlockNumberComplementAndChecksum) {
    const Bytes image = testImage(256);
    SimulatorProcess machine({"--image-length", "256", "--save-image", file("got.bin"), "--report", file("r.json")});
    ASSERT_TRUE(machine.started());
    ToolEnd tool(machine.path());
    ASSERT_TRUE(beginUpgrade(tool));
    Bytes bad = blockPacket(1, image, 0);
    bad[131] ^= 1; // checksum
    tool.send(bad);
    EXPECT_EQ(tool.take(1), Bytes{0x15});
    bad = blockPacket(2, image, 0);
    bad[2] = 0; // complement
    tool.send(bad);
    EXPECT_EQ(tool.take(1), Bytes{0x15});
    tool.send(blockPacket(9, image, 0)); // number out of sequence
    EXPECT_EQ(tool.take(1), Bytes{0x15});
    // The resend of the same data with the next number is taken.
    tool.send(blockPacket(10, image, 0));
    EXPECT_EQ(tool.take(1), Bytes{0x06});
    tool.send(blockPacket(11, image, 1));
    EXPECT_EQ(tool.take(1), Bytes{0x06});
    tool.send(Bytes{0x04, 0, 0, 0});
    const std::string report = reportWith(file("r.json"), "completed");
    EXPECT_NE(report.find("\"badPackets\": 3,"), std::string::npos) << report;
    EXPECT_NE(report.find("\"resends\": 3,"), std::string::npos) << report;
    std::ifstream saved(file("got.bin"), std::ios::binary);
    EXPECT_EQ((Bytes{std::istreambuf_iterator<char>(saved), std::istreambuf_iterator<char>()}), image);
}

TEST_F(Simulator, InjectedTransferFaults) {
    const Bytes image = testImage(128 * 4);
    SimulatorProcess machine({"--reject-block", "2:2", "--ignore-block", "3", "--too-large-at", "4"});
    ASSERT_TRUE(machine.started());
    ToolEnd tool(machine.path());
    ASSERT_TRUE(beginUpgrade(tool));
    std::uint8_t number = 0;
    auto sendBlock = [&](std::size_t block) { tool.send(blockPacket(++number, image, block)); };
    sendBlock(0);
    EXPECT_EQ(tool.take(1), Bytes{0x06});
    sendBlock(1);
    EXPECT_EQ(tool.take(1), Bytes{0x15});
    sendBlock(1);
    EXPECT_EQ(tool.take(1), Bytes{0x15});
    sendBlock(1);
    EXPECT_EQ(tool.take(1), Bytes{0x06});
    sendBlock(2);
    EXPECT_TRUE(tool.take(1, 300).empty()); // ignored once
    sendBlock(2);
    EXPECT_EQ(tool.take(1), Bytes{0x06});
    sendBlock(3);
    EXPECT_EQ(tool.take(1), Bytes{0x18});
}

TEST_F(Simulator, ChecksumErrorNoReadyAndDisconnect) {
    const Bytes image = testImage(128 * 3);
    {
        SimulatorProcess machine({"--checksum-error-at", "1", "--no-ready"});
        ASSERT_TRUE(machine.started());
        ToolEnd tool(machine.path());
        ASSERT_TRUE(beginUpgrade(tool, false));
        tool.send(blockPacket(1, image, 0));
        EXPECT_EQ(tool.take(1), Bytes{0x04});
    }
    SimulatorProcess machine({"--disconnect-at", "2", "--report", file("r.json")});
    ASSERT_TRUE(machine.started());
    ToolEnd tool(machine.path());
    ASSERT_TRUE(beginUpgrade(tool));
    tool.send(blockPacket(1, image, 0));
    EXPECT_EQ(tool.take(1), Bytes{0x06});
    tool.send(blockPacket(2, image, 1));
    // The line goes away: a read reports end of file or an error, no reply.
    EXPECT_TRUE(tool.take(1, 500).empty());
    EXPECT_EQ(machine.stop(), 0); // it had already left by itself
    EXPECT_NE(reportOf(file("r.json")).find("\"result\": \"disconnected\""), std::string::npos);
}

TEST_F(Simulator, SeveralMachinesThatRestartWithTheNewVersionAndAreSwapped) {
    // Machine 2 restarts 300 ms after its upgrade and reports the version it
    // was sent; 1.5 s later it is taken away for 0.7 s, and a new machine of
    // the first identity is there. Machine 1 is not touched meanwhile.
    SimulatorProcess machines({"--machines", "2", "--reboot", "300", "--swap-after", "1500", "--away", "700",
                               "--save-image", file("got.bin")});
    ASSERT_TRUE(machines.started());
    ASSERT_EQ(machines.paths().size(), 2u);
    ToolEnd first(machines.paths()[0]), second(machines.paths()[1]);
    const Bytes image = testImage(128);
    ASSERT_TRUE(beginUpgrade(second, true, "2.00"));
    second.send(blockPacket(1, image, 0));
    ASSERT_EQ(second.take(1), Bytes{0x06});
    second.send(Bytes{0x04, 0, 0, 0});
    const auto ended = std::chrono::steady_clock::now();
    auto software = [&](const ToolEnd& tool, int waitMs) {
        tool.send(Bytes{'F'});
        const auto payload = checkFrame(tool.take(9, waitMs));
        return payload ? std::string(payload->begin(), payload->end()) : std::string("(silent)");
    };
    EXPECT_EQ(software(second, 200), "(silent)");
    first.send(Bytes{0x7F});
    EXPECT_EQ(first.take(4), toBytes("QMTV"));
    std::this_thread::sleep_until(ended + std::chrono::milliseconds(500));
    EXPECT_EQ(software(second, 1000), "2.00");
    std::this_thread::sleep_until(ended + std::chrono::milliseconds(1900));
    EXPECT_EQ(software(second, 300), "(silent)");
    std::this_thread::sleep_until(ended + std::chrono::milliseconds(2700));
    EXPECT_EQ(software(second, 1000), "1.00");
    EXPECT_EQ(software(first, 1000), "1.00");
    EXPECT_TRUE(fs::exists(file("got-2.bin")));
    EXPECT_FALSE(fs::exists(file("got-1.bin")));
}

TEST_F(Simulator, APlanPutsItsMachinesOnTheLineOneAfterAnother) {
    // The first is pulled at its end mark and the next is there 300 ms
    // later; that one vanishes at its first block, the line quiet for
    // 300 ms; the third is taken away 700 ms after it came, and no machine
    // follows. The tool's end stays open all along.
    {
        std::ofstream plan(file("plan.txt"));
        plan << "# one machine a line\n"
             << "--replaced-after-end 300 --save-image " << file("a.bin") << " --report " << file("r1.json") << "\n\n"
             << "--disconnect-at 1 --away 300 --report " << file("r2.json") << "\n"
             << "--software 3.00 --leave-after 700 --report " << file("r3.json") << "\n";
    }
    SimulatorProcess line({"--plan", file("plan.txt")});
    ASSERT_TRUE(line.started());
    ToolEnd tool(line.path());
    const Bytes image = testImage(100);
    ASSERT_TRUE(beginUpgrade(tool));
    tool.send(blockPacket(1, image, 0));
    ASSERT_EQ(tool.take(1), Bytes{0x06});
    tool.send(Bytes{0x04, 0, 0, 0});
    const auto ended = std::chrono::steady_clock::now();
    auto probe = [&](int waitMs) { tool.send(Bytes{0x7F}); return tool.take(4, waitMs) == toBytes("QMTV"); };
    EXPECT_FALSE(probe(150));
    std::this_thread::sleep_until(ended + std::chrono::milliseconds(450));
    EXPECT_NE(reportOf(file("r1.json")).find("\"result\": \"completed\""), std::string::npos);
    ASSERT_TRUE(beginUpgrade(tool));
    tool.send(blockPacket(1, image, 0));
    const auto vanished = std::chrono::steady_clock::now();
    EXPECT_TRUE(tool.take(1, 200).empty());
    EXPECT_NE(reportWith(file("r2.json"), "disconnected").find("\"result\": \"disconnected\""), std::string::npos);
    std::this_thread::sleep_until(vanished + std::chrono::milliseconds(500));
    tool.send(Bytes{'F'});
    const auto software = checkFrame(tool.take(9, 1000));
    ASSERT_TRUE(software.has_value());
    EXPECT_EQ(std::string(software->begin(), software->end()), "3.00");
    std::this_thread::sleep_until(vanished + std::chrono::milliseconds(1150));
    EXPECT_FALSE(probe(300));
    EXPECT_NE(reportOf(file("r3.json")).find("\"identityRequests\": 1,"), std::string::npos);
    std::ifstream saved(file("a.bin"), std::ios::binary);
    EXPECT_EQ((Bytes{std::istreambuf_iterator<char>(saved), std::istreambuf_iterator<char>()}), image);
    EXPECT_EQ(line.stop(), 0);
}

TEST_F(Simulator, AfterSigusr1NoMoreMachineOfThePlanComes) {
    std::ofstream(file("plan.txt")) << "--leave-after 500 --away 0\n--software 2.00\n";
    SimulatorProcess line({"--plan", file("plan.txt")});
    ASSERT_TRUE(line.started());
    line.signal(SIGUSR1);
    ToolEnd tool(line.path());
    auto software = [&] {
        tool.send(Bytes{'F'});
        const auto payload = checkFrame(tool.take(9, 300));
        return payload ? std::string(payload->begin(), payload->end()) : std::string("(silent)");
    };
    EXPECT_EQ(software(), "1.00"); // the machine on the line stays until it leaves
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_EQ(software(), "(silent)");
    EXPECT_EQ(line.stop(), 0);
}

TEST_F(Simulator, StopSignalWritesTheReport) {
    SimulatorProcess machine({"--report", file("r.json")});
    ASSERT_TRUE(machine.started());
    {
        ToolEnd tool(machine.path());
        tool.send(Bytes{0x7F, 0x18});
        EXPECT_EQ(tool.take(4), toBytes("QMTV"));
        ASSERT_TRUE(beginUpgrade(tool));
    }
    int status = machine.stop();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::string report = reportOf(file("r.json"));
    EXPECT_NE(report.find("\"result\": \"stopped\""), std::string::npos) << report;
    EXPECT_NE(report.find("\"probes\": 1,"), std::string::npos) << report;
    EXPECT_NE(report.find("\"rejectsReceived\": 1,"), std::string::npos) << report;
    EXPECT_NE(report.find("\"transferSeconds\": -1,"), std::string::npos) << report;
}

TEST_F(Simulator, PacesRepliesAtTheGivenRate) {
    // At 1200 baud a byte takes 8.3 ms: the 4-byte answer to the 1-byte
    // probe needs at least 5 byte times after the probe was written.
    SimulatorProcess machine({"--baud", "1200"});
    ASSERT_TRUE(machine.started());
    ToolEnd tool(machine.path());
    const auto start = std::chrono::steady_clock::now();
    tool.send(Bytes{0x7F});
    EXPECT_EQ(tool.take(4), toBytes("QMTV"));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(5 * 8333));
}

TEST_F(Simulator, RefusesBadOptions) {
    std::ofstream(file("plan.txt")) << "--reboot 100\n--baud 9600\n";
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--pad"}, {"--baud", "fast"}, {"--reject-block", "0"}, {"--corrupt-requests", "X"}, {"--nonsense"},
             {"--machines", "0"}, {"--reboot", "-1"}, {"--leave-after", "100"}, {"--plan", file("plan.txt")},
             {"--plan", file("none.txt")}}) {
        std::vector<std::string> all{SimulatorProcess::binDir() + "/mubtool", "simulate"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        ASSERT_EQ(::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << args.front();
    }
}

} // namespace
} // namespace mub
