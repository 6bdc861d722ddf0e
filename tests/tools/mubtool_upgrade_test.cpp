// mubtool upgrade and mubtool detect run as the real program against the
// simulated machine on a pseudo-terminal, through a device path (COM mode)
// and through the stand-in bridge library (USB mode).
#include "platform/gbk_text.h"
#include "records/sent_mark.h"
#include "tests/support/fake_collector.h"
#include "tests/support/simulator_process.h"
#include "tests/support/temp_folder.h"
#include "tests/support/text_count.h"
#include "upgrade/program_version.h"
#include "upgrade_file/encode_upgrade_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace mub::test {
namespace {

using namespace std::chrono_literals;

struct RunResult {
    int exitCode = -1;
    std::string out; // UTF-8
    std::string err;
    double seconds = 0;
    double stopSeconds = -1; // from the Ctrl+C to the end of the program
};

// The last text of the message pane: the line before the closing counts.
std::string lastPaneLine(const std::string& out) {
    std::string text = out.substr(0, out.rfind("\nblocks: ") + 1);
    if (text.empty()) text = out; // mubtool detect ends without counts
    text.pop_back();
    return text.substr(text.rfind('\n') + 1);
}

// Ctrl+C must end the program within half a second; the bound checked is
// twice that so that a loaded machine does not fail it (a wait of the run's
// own, a reply's second or the handshake's two, still does). The figure is
// printed.
void expectStoppedQuickly(const RunResult& r, const std::string& paneText, const std::string& what) {
    EXPECT_EQ(r.exitCode, 9) << r.out << r.err;
    EXPECT_EQ(lastPaneLine(r.out), paneText) << r.out;
    EXPECT_GE(r.stopSeconds, 0.0);
    EXPECT_LT(r.stopSeconds, 1.0);
    std::printf("Ctrl+C to exit, %s: %.0f ms\n", what.c_str(), r.stopSeconds * 1000);
}

Bytes patternImage(std::size_t length) {
    Bytes image(length);
    for (std::size_t i = 0; i < length; ++i) image[i] = static_cast<std::uint8_t>((i * 13 + i / 251) & 0xFF);
    return image;
}

class MubtoolUpgrade : public ::testing::Test {
protected:
    // Packs an upgrade file for the simulated machine's default identity
    // (QM-3000, HW-1.0, 1.00) with a newer software version.
    std::string pack(const Bytes& image, const std::string& model = "QM-3000", const std::string& hardware = "HW-1.0",
                     const std::string& software = "1.01") {
        const auto bytes = encodeUpgradeFile(UpgradeTexts{gbk(model), gbk(hardware), gbk(software)}, image);
        EXPECT_TRUE(bytes.has_value());
        const std::string name = "file" + std::to_string(++files_) + ".mub";
        folder.write(name, bytes ? std::string(bytes->begin(), bytes->end()) : std::string());
        return folder.path(name);
    }

    // Starts the simulated machine saving what it receives.
    std::unique_ptr<SimulatorProcess> simulate(std::vector<std::string> args = {}) {
        args.insert(args.end(), {"--save-image", folder.path("saved.bin"), "--report", folder.path("report.json")});
        auto sim = std::make_unique<SimulatorProcess>(args);
        EXPECT_TRUE(sim->started());
        return sim;
    }

    // Runs mubtool with the outputs in files and stdin from /dev/null, or
    // from a terminal that types `typed` once a question prompt appears on
    // stderr. When `interruptOn` appears on stdout, sends SIGINT (Ctrl+C). A
    // run still going after `limit` is killed and fails the test. With
    // `stdoutToClosedPipe` stdout is a pipe nobody reads (its reading end is
    // closed), and the program starts with SIGPIPE at its default action.
    RunResult mubtool(std::vector<std::string> args, const std::string& interruptOn = {},
                      const std::vector<std::string>& env = {}, std::chrono::seconds limit = 60s,
                      const std::string& typed = {}) {
        const std::string program = programPath.empty() ? SimulatorProcess::binDir() + "/mubtool" : programPath;
        args.insert(args.begin(), program);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> envText;
        for (char** e = environ; *e; ++e) envText.emplace_back(*e);
        envText.insert(envText.end(), env.begin(), env.end());
        std::vector<char*> envp;
        for (auto& e : envText) envp.push_back(e.data());
        envp.push_back(nullptr);

        const std::string outPath = folder.path("stdout"), errPath = folder.path("stderr");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        int terminal = -1, terminalSide = -1;
        if (!typed.empty()) {
            EXPECT_EQ(::openpty(&terminal, &terminalSide, nullptr, nullptr, nullptr), 0);
            posix_spawn_file_actions_adddup2(&actions, terminalSide, 0);
        } else {
            posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        }
        int pipeEnds[2] = {-1, -1};
        if (stdoutToClosedPipe) {
            EXPECT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
            posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
        } else {
            posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        RunResult result;
        const auto start = std::chrono::steady_clock::now();
        const int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        for (int end : pipeEnds)
            if (end >= 0) ::close(end);
        if (terminalSide >= 0) ::close(terminalSide);
        EXPECT_EQ(rc, 0);
        if (rc != 0) return result;

        bool interrupted = false, answered = false;
        std::optional<std::chrono::steady_clock::time_point> seen, interruptedAt;
        int status = 0;
        for (;;) {
            const pid_t done = ::waitpid(pid, &status, WNOHANG);
            if (done == pid) break;
            if (!interruptOn.empty() && !seen && folder.read("stdout").find(interruptOn) != std::string::npos)
                seen = std::chrono::steady_clock::now();
            if (seen && !interrupted && std::chrono::steady_clock::now() - *seen >= interruptDelay) {
                ::kill(pid, SIGINT);
                interruptedAt = std::chrono::steady_clock::now();
                interrupted = true;
            }
            if (!typed.empty() && !answered && folder.read("stderr").find("[y/n]") != std::string::npos) {
                EXPECT_EQ(::write(terminal, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
                answered = true;
            }
            if (std::chrono::steady_clock::now() - start > limit) {
                ADD_FAILURE() << "mubtool still running after " << limit.count() << " s; killed";
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(seen ? 1ms : 10ms);
        }
        const auto end = std::chrono::steady_clock::now();
        if (!interruptOn.empty()) {
            EXPECT_TRUE(interrupted) << "never saw " << interruptOn;
        }
        if (terminal >= 0) ::close(terminal);
        result.seconds = std::chrono::duration<double>(end - start).count();
        if (interruptedAt) result.stopSeconds = std::chrono::duration<double>(end - *interruptedAt).count();
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = folder.read("stdout");
        result.err = folder.read("stderr");
        return result;
    }

    RunResult upgrade(const SimulatorProcess& sim, const std::string& file, std::vector<std::string> extra = {},
                      const std::string& interruptOn = {}) {
        std::vector<std::string> args{"upgrade", "--port", sim.path()};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(file);
        return mubtool(args, interruptOn);
    }

    // The simulator's report after it ended.
    std::string report(SimulatorProcess& sim) {
        sim.stop();
        return folder.read("report.json");
    }

    Bytes saved() const {
        const std::string bytes = folder.read("saved.bin");
        return Bytes(bytes.begin(), bytes.end());
    }

    TempFolder folder;
    int files_ = 0;
    bool stdoutToClosedPipe = false;
    std::chrono::milliseconds interruptDelay{0}; // between seeing `interruptOn` and the Ctrl+C
    std::string programPath;      // another mubtool than the one in the build folder
};

TEST_F(MubtoolUpgrade, FullUpgradeThroughADevicePathSavesTheFilesImage) {
    for (std::size_t length : {std::size_t{4096}, std::size_t{5000}}) { // a multiple of 128, and not
        const Bytes image = patternImage(length);
        const std::string file = pack(image);
        auto sim = simulate();
        const RunResult r = upgrade(*sim, file);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("机器型号: QM-3000\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("开始更新...\n更新中！请稍等...\n升级完成！\n耗时:"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find('\r'), std::string::npos);
        EXPECT_EQ(r.err, "");
        const std::string rep = report(*sim);
        EXPECT_EQ(saved(), image) << rep;
        EXPECT_NE(rep.find("\"result\": \"completed\""), std::string::npos) << rep;
    }
}

TEST_F(MubtoolUpgrade, AReaderOfStdoutThatGoesAwayDoesNotEndTheUpgrade) {
    // Killed by the broken pipe, the program would leave the machine with a
    // part of its firmware; it writes the whole image and reports success.
    const Bytes image = patternImage(2000);
    const std::string file = pack(image);
    auto sim = simulate();
    stdoutToClosedPipe = true;
    const RunResult r = upgrade(*sim, file);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    report(*sim);
    EXPECT_EQ(saved(), image);
}

TEST_F(MubtoolUpgrade, FullUpgradeThroughTheStandInBridge) {
    const Bytes image = patternImage(3000);
    const std::string file = pack(image);
    auto sim = simulate();
    const RunResult r = mubtool({"upgrade", "--port", "USB", "--baud", "115200", file}, {}, {"BRIDGEMINI_DEVICE=" + sim->path()});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("升级完成！"), std::string::npos) << r.out;
    report(*sim);
    EXPECT_EQ(saved(), image);
}

TEST_F(MubtoolUpgrade, BlockNumbersWrapPast255) {
    const Bytes image = patternImage(300 * 128);
    const std::string file = pack(image);
    auto sim = simulate();
    const RunResult r = upgrade(*sim, file);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::string rep = report(*sim);
    EXPECT_NE(rep.find("\"blocks\": 300,"), std::string::npos) << rep;
    EXPECT_NE(rep.find("\"badPackets\": 0,"), std::string::npos) << rep;
    EXPECT_EQ(saved(), image);
}

TEST_F(MubtoolUpgrade, IdentityRefusalsAndQuestions) {
    const Bytes image = patternImage(1000);
    const struct {
        const char* what;
        std::string file;
        std::vector<std::string> options;
        int exitCode;
        std::string outText;
        std::string errText;
    } cases[] = {
        {"hardware differs", pack(image, "QM-3000", "hw-1.0"), {}, 5, "硬件版本不匹配！请选择正确的文件。",
         "error box [Korvan升级工具v1.0--生产专用]: 硬件版本不匹配！请选择正确的文件。"},
        {"model differs, strict", pack(image, "QM-3001"), {"--strict"}, 5, "型号不匹配！请选择正确的文件。",
         "型号不匹配！请选择正确的文件。"},
        {"model differs, production title", pack(image, "QM-3001"), {}, 0, "升级完成！", ""},
        {"same version, no", pack(image, "QM-3000", "HW-1.0", "1.00"), {"--strict", "--no"}, 5,
         "软件版本相同！您取消了本次更新。", "answered no (--no)"},
        {"same version, yes", pack(image, "QM-3000", "HW-1.0", "1.00"), {"--strict", "--yes"}, 0, "升级完成！",
         "软件版本相同,是否继续更新！“是”继续，“否”不更新。"},
        {"same version, nobody to ask", pack(image, "QM-3000", "HW-1.0", "1.00"), {"--strict"}, 5,
         "软件版本相同！您取消了本次更新。", "no answer"},
        {"older file, no", pack(image, "QM-3000", "HW-1.0", "0.9"), {"--strict", "--no"}, 5,
         "升级文件是旧版本！您取消了本次更新。", "升级文件是旧版本，是否继续更新！“是”继续，“否”不更新"},
        {"older file, yes", pack(image, "QM-3000", "HW-1.0", "0.9"), {"--strict", "--yes"}, 0, "升级完成！", "answered yes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto sim = simulate();
        const RunResult r = upgrade(*sim, c.file, c.options);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
        EXPECT_NE(r.out.find(c.outText), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.errText), std::string::npos) << r.err;
        const std::string rep = report(*sim);
        if (c.exitCode == 0) {
            EXPECT_EQ(saved(), image);
        } else {
            // Refused before the begin command, with the one-byte Reject.
            EXPECT_NE(rep.find("\"rejectsReceived\": 1,"), std::string::npos) << rep;
            EXPECT_NE(rep.find("\"upgrades\": 0,"), std::string::npos) << rep;
        }
        std::remove(folder.path("saved.bin").c_str());
    }
}

TEST_F(MubtoolUpgrade, QuestionsAreAskedOnATerminal) {
    const Bytes image = patternImage(700);
    const std::string file = pack(image, "QM-3000", "HW-1.0", "1.00");
    for (const char* typed : {"maybe\nn\n", "y\n"}) {
        SCOPED_TRACE(typed);
        auto sim = simulate();
        const RunResult r = mubtool({"upgrade", "--strict", "--port", sim->path(), file}, {}, {}, 60s, typed);
        const bool yes = typed[0] == 'y';
        EXPECT_EQ(r.exitCode, yes ? 0 : 5) << r.out << r.err;
        EXPECT_NE(r.err.find("question: 软件版本相同,是否继续更新！“是”继续，“否”不更新。 [y/n]"), std::string::npos) << r.err;
        EXPECT_NE(r.out.find(yes ? "升级完成！" : "软件版本相同！您取消了本次更新。"), std::string::npos) << r.out;
        report(*sim);
        if (yes) {
            EXPECT_EQ(saved(), image);
        }
    }
}

TEST_F(MubtoolUpgrade, CtrlCDuringTheIdentificationToneSendsNothing) {
    // Ctrl+C while the machine is being identified (its tone) is pending when
    // the same-version question comes: it is a Stop whatever the answer, so
    // the machine is neither put into its upgrade mode nor sent a Reject.
    const std::string file = pack(patternImage(700), "QM-3000", "HW-1.0", "1.00");
    const struct {
        std::vector<std::string> options;
        std::string typed; // answer typed on a terminal once it asks
    } cases[] = {{{"--yes"}, ""}, {{"--no"}, ""}, {{}, "y\n"}};
    for (const auto& c : cases) {
        const std::string what = "identification tone, " + (c.typed.empty() ? c.options[0] : std::string("terminal"));
        SCOPED_TRACE(what);
        auto sim = simulate();
        std::vector<std::string> args{"upgrade", "--strict", "--port", sim->path()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(file);
        const RunResult r = mubtool(args, "机器信息读取成功", {}, 60s, c.typed);
        expectStoppedQuickly(r, "升级被停止！", what);
        EXPECT_EQ(r.out.find("开始更新"), std::string::npos) << r.out;
        const std::string rep = report(*sim);
        EXPECT_NE(rep.find("\"upgrades\": 0,"), std::string::npos) << rep;
        EXPECT_NE(rep.find("\"rejectsReceived\": 0,"), std::string::npos) << rep;
    }
}

TEST_F(MubtoolUpgrade, CtrlCEndsARunWhileTheMachineKeepsTheLineBusy) {
    const std::string file = pack(patternImage(40 * 128));
    interruptDelay = 300ms; // the machine is well into its behaviour by then
    const struct {
        const char* what;
        std::vector<std::string> simulator;
        const char* command;
        const char* interruptOn;
        const char* paneText;
    } cases[] = {
        {"searching a silent machine", {"--silent"}, "upgrade", "联机中", "升级被停止！"},
        {"identifying, bytes streamed after M", {"--stream-on-request", "M", "--baud", "4800"}, "upgrade",
         "开始读取机器信息", "升级被停止！"},
        {"model check, bytes streamed after M", {"--stream-on-request", "M", "--baud", "4800"}, "detect",
         "开始读取机器信息", "型号检测被停止！"},
        {"handshake, M asked again and again", {"--repeat-request"}, "upgrade", "开始更新", "升级被停止！"},
        {"transfer, noise streamed as replies", {"--noise-from", "3", "--baud", "115200"}, "upgrade", "更新中",
         "升级被停止！"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto sim = simulate(c.simulator);
        std::vector<std::string> args{c.command, "--port", sim->path()};
        // The program talks at the machine's rate, as on a real line: it
        // counts a reply's silence from the request's time on the line at its
        // own rate, and a machine paced slower answers at the very end of it.
        const auto pace = std::find(c.simulator.begin(), c.simulator.end(), "--baud");
        if (pace != c.simulator.end()) args.insert(args.end(), {"--baud", *(pace + 1)});
        if (std::string(c.command) == "upgrade") args.push_back(file);
        const RunResult r = mubtool(args, c.interruptOn);
        expectStoppedQuickly(r, c.paneText, c.what);
    }
}

TEST_F(MubtoolUpgrade, MachineFailuresEndWithTheirTextsAndExitCodes) {
    const std::string file = pack(patternImage(2000));
    const struct {
        std::vector<std::string> simulator;
        int exitCode;
        std::string outText;
        std::string errText;
    } cases[] = {
        {{"--too-large-at", "3"}, 7, "升级失败！！！文件长度超过芯片容量。", "升级失败！！！校验错误或文件长度超过芯片容量。"},
        {{"--checksum-error-at", "2"}, 7, "升级失败！！！校验错误。", "升级失败！！！校验错误或文件长度超过芯片容量。"},
        {{"--reject-block", "2:4"}, 8, "升级失败！！！通讯超时。", "error box [Korvan升级工具v1.0--生产专用]: 升级失败！！！通讯超时。"},
        {{"--ignore-block", "3:4"}, 8, "通讯超时！重发数据！\n通讯超时！重发数据！\n通讯超时！重发数据！\n通讯超时！重发数据！\n升级失败！！！通讯超时。",
         "升级失败！！！通讯超时。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.simulator[0]);
        auto sim = simulate(c.simulator);
        const RunResult r = upgrade(*sim, file);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
        EXPECT_NE(r.out.find(c.outText), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.errText), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("升级完成！"), std::string::npos);
    }
}

TEST_F(MubtoolUpgrade, FailureCountingRules) {
    const Bytes image = patternImage(8 * 128);
    const std::string file = pack(image);
    const struct {
        const char* rejects;
        int exitCode;
    } cases[] = {
        {"2:3,3:3", 0},         // three in a row, an acceptance, three more
        {"1:3,2:3,3:3,4:1", 0}, // ten in the run
        {"1:3,2:3,3:3,4:2", 8}, // the eleventh
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rejects);
        auto sim = simulate({"--reject-block", c.rejects});
        const RunResult r = upgrade(*sim, file);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
        report(*sim);
        if (c.exitCode == 0) {
            EXPECT_EQ(saved(), image);
        }
        std::remove(folder.path("saved.bin").c_str());
    }
}

TEST_F(MubtoolUpgrade, ATimeOutIsAnnouncedAndTheBlockSentAgain) {
    const Bytes image = patternImage(1500);
    const std::string file = pack(image);
    auto sim = simulate({"--ignore-block", "2:1"});
    const RunResult r = upgrade(*sim, file);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(occurrences(r.out, "通讯超时！重发数据！\n"), 1u) << r.out;
    EXPECT_EQ(r.out.substr(r.out.rfind("\nblocks: ") + 1), "blocks: 12 of 12, time-outs: 1, rejected blocks: 0\n");
    report(*sim);
    EXPECT_EQ(saved(), image);
}

TEST_F(MubtoolUpgrade, MachineDisconnectingMidTransferEndsWithAClearMessage) {
    // Also right after acknowledging the last block: the end mark cannot be
    // sent, so the machine never heard that its image is complete.
    const std::string file = pack(patternImage(40 * 128));
    for (const char* fault : {"--disconnect-at=5", "--disconnect-after=40"}) {
        SCOPED_TRACE(fault);
        const std::string option = fault;
        auto sim = simulate({option.substr(0, option.find('=')), option.substr(option.find('=') + 1)});
        const RunResult r = upgrade(*sim, file);
        EXPECT_EQ(r.exitCode, 6) << r.out << r.err;
        EXPECT_NE(r.out.find("设备被拔出或其他错误！！！请重新插拔USB线，然后打开机器电源。\n点击升级或连续按钮按钮重新升级"),
                  std::string::npos)
            << r.out;
        EXPECT_NE(r.err.find("error box [Korvan升级工具v1.0--生产专用]: 设备被拔出或其他错误！！！请重新插拔USB连接线"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.out.find("升级完成！"), std::string::npos);
        EXPECT_LT(r.seconds, 15.0);
        EXPECT_NE(report(*sim).find("\"result\": \"disconnected\""), std::string::npos);
    }
}

TEST_F(MubtoolUpgrade, CtrlCDuringTheTransferStopsAndReleasesTheLink) {
    // Paced at 9600 baud, 200 blocks take about 28 s: plenty of time to stop.
    const std::string file = pack(patternImage(200 * 128));
    auto sim = simulate({"--baud", "9600"});
    const RunResult r = upgrade(*sim, file, {"--baud", "9600"}, "更新中");
    EXPECT_EQ(r.exitCode, 9) << r.out << r.err;
    EXPECT_NE(r.out.find("升级被停止！"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("升级完成！"), std::string::npos);
    EXPECT_LT(r.seconds, 20.0);
    const std::string rep = report(*sim);
    EXPECT_EQ(rep.find("\"result\": \"completed\""), std::string::npos) << rep;
}

TEST_F(MubtoolUpgrade, AStopThatEndsAReplyWaitAddsNoTimeOutLine) {
    // The machine leaves the second block unanswered; Ctrl+C comes while the
    // tool waits for the reply.
    auto sim = simulate({"--ignore-block", "2:3"});
    interruptDelay = 400ms;
    const RunResult r = upgrade(*sim, pack(patternImage(10 * 128)), {}, "更新中");
    expectStoppedQuickly(r, "升级被停止！", "waiting for a block's reply");
    EXPECT_EQ(r.out.find("通讯超时！重发数据！"), std::string::npos) << r.out;
}

TEST_F(MubtoolUpgrade, RepliesOfNoMeaningCountAsTimeOuts) {
    // A machine answering only noise is given up like a silent one; a stray
    // byte now and then does no harm. The end report (--json) counts both.
    const Bytes image = patternImage(8 * 128);
    const std::string file = pack(image);
    const struct {
        std::vector<std::string> simulator;
        int exitCode;
        std::string json;
        std::string paneText;
        std::string counts; // the last line, after the texts for people
    } cases[] = {
        {{"--noise-from", "3", "--baud", "115200"}, 8,
         R"({"outcome": "too-many-failures", "exitCode": 8, "blocks": 2, "blocksTotal": 8, "timeouts": 4, "rejectedBlocks": 0,)",
         "通讯超时！重发数据！\n通讯超时！重发数据！\n通讯超时！重发数据！\n通讯超时！重发数据！\n升级失败！！！通讯超时。\n",
         "blocks: 2 of 8, time-outs: 4, rejected blocks: 0\n"},
        {{"--stray-byte-at", "2,4,6", "--reject-block", "5"}, 0,
         R"({"outcome": "completed", "exitCode": 0, "blocks": 8, "blocksTotal": 8, "timeouts": 0, "rejectedBlocks": 1,)",
         "升级完成！\n", "blocks: 8 of 8, time-outs: 0, rejected blocks: 1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.simulator[0]);
        auto sim = simulate(c.simulator);
        const RunResult r = upgrade(*sim, file, {"--json"});
        EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
        EXPECT_EQ(r.out.find(c.json), 0u) << r.out;
        EXPECT_NE(r.out.find(R"("machine": {"model": "QM-3000", "hardware": "HW-1.0", "software": "1.00"}, )"
                             R"("programVersion": ")" + programVersion() + "\"}\n"),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(occurrences(r.out, "\n"), 1u) << r.out; // nothing else on stdout
        EXPECT_NE(r.err.find(c.paneText), std::string::npos) << r.err;
        EXPECT_EQ(r.err.substr(r.err.rfind("\nblocks: ") + 1), c.counts) << r.err;
        report(*sim);
        if (c.exitCode == 0) {
            EXPECT_EQ(saved(), image);
        }
    }
}

TEST_F(MubtoolUpgrade, ADevicePathIsTheOnlyPortTriedWhileCOMnSearches) {
    // mubtool reads [Ports] of the cfg.ini beside it, as the window does; a
    // copy of it in the test's folder gets a table whose COM1 is a silent
    // machine and COM2 an answering one.
    programPath = folder.path("mubtool");
    std::filesystem::copy_file(SimulatorProcess::binDir() + "/mubtool", programPath);
    SimulatorProcess silent({"--silent"});
    ASSERT_TRUE(silent.started());
    const Bytes image = patternImage(1000);
    const std::string file = pack(image);
    auto tableWith = [&](const SimulatorProcess& answering) {
        folder.write("cfg.ini", "[Ports]\r\nCOM1=" + silent.path() + "\r\nCOM2=" + answering.path() + "\r\n");
    };

    auto answering = simulate();
    tableWith(*answering);
    RunResult r = upgrade(silent, file);
    EXPECT_EQ(r.exitCode, 6) << r.out << r.err;
    EXPECT_NE(r.out.find("通讯连接超时！！！\n未检测到USB设备或USB设备号被占用"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("error box [Korvan升级工具v1.0--生产专用]: 通讯连接超时！！！"), std::string::npos) << r.err;
    EXPECT_NE(report(*answering).find("\"probes\": 0,"), std::string::npos);

    answering = simulate();
    tableWith(*answering);
    r = mubtool({"upgrade", "--port", "COM1", file});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    report(*answering);
    EXPECT_EQ(saved(), image);
}

TEST_F(MubtoolUpgrade, DetectPrintsTheIdentityAndEndsWithReject) {
    auto sim = simulate({"--model", "型号Ｘ", "--software", "２．０"});
    const RunResult r = mubtool({"detect", "--port", sim->path()});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("机器型号: 型号Ｘ\n硬件版本: HW-1.0\n软件版本: ２．０\n"), std::string::npos) << r.out;
    const std::string rep = report(*sim);
    EXPECT_NE(rep.find("\"rejectsReceived\": 1,"), std::string::npos) << rep;
}

TEST_F(MubtoolUpgrade, UpgradeAndDetectEachAddALineToTheLog) {
    const std::string file = pack(patternImage(1000));
    const std::string log = folder.path("upgrades.csv");
    auto sim = simulate();
    EXPECT_EQ(upgrade(*sim, file, {"--log", log}).exitCode, 0);
    EXPECT_EQ(mubtool({"detect", "--port", sim->path(), "--log", log}).exitCode, 0);
    auto silent = simulate({"--silent"});
    const RunResult r = mubtool({"upgrade", "--port", silent->path(), "--log=" + log, file});
    EXPECT_EQ(r.exitCode, 6);
    const std::string text = folder.read("upgrades.csv");
    EXPECT_EQ(occurrences(text, "\r\n"), 4u) << text;
    EXPECT_NE(text.find("\"mubtool upgrade\",\"" + sim->path() + "\",\"" + file + "\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"1.00\",\"\",\"completed\",0,8,8,0,0,"), std::string::npos) << text;
    EXPECT_NE(text.find("\"mubtool detect\""), std::string::npos) << text;
    EXPECT_NE(text.find(",\"identified\",0,"), std::string::npos) << text;
    EXPECT_NE(text.find(",\"not-connected\",6,0,8,"), std::string::npos) << text;
}

TEST_F(MubtoolUpgrade, WithACollectorTheLinesAreSentBeforeTheCommandEnds) {
    FakeCollector collector;
    const std::string file = pack(patternImage(1000));
    const std::string log = folder.path("upgrades.csv");
    const std::vector<std::string> records{"--log", log, "--send-to", collector.address(), "--token", "t1"};
    auto sim = simulate();
    collector.down();
    // Out of reach: the line waits and the command says so, without delay.
    std::vector<std::string> args{"detect", "--port", sim->path()};
    args.insert(args.end(), records.begin(), records.end());
    RunResult r = mubtool(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("1 line(s) of " + log + " wait to be sent (no answer from"), std::string::npos) << r.err;
    EXPECT_LT(r.seconds, 4.0);

    collector.up();
    r = upgrade(*sim, file, records);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("wait to be sent"), std::string::npos) << r.err;
    const std::vector<FakeCollector::Batch> batches = collector.batches();
    ASSERT_FALSE(batches.empty());
    std::vector<std::string> outcomes;
    for (const auto& batch : batches) outcomes.insert(outcomes.end(), batch.outcomes.begin(), batch.outcomes.end());
    EXPECT_EQ(outcomes, (std::vector<std::string>{"identified", "completed"}));
    EXPECT_EQ(readSentMark(log), std::filesystem::file_size(log));
}

TEST_F(MubtoolUpgrade, DetectShowsControlCharactersFromTheMachineEscaped) {
    // An escape sequence in a reported text must not reach the terminal, and
    // a line break must not split the identity line.
    auto sim = simulate({"--model", "A\x1b]0;x\x07" "B", "--hardware", "HW\n1"});
    const RunResult r = mubtool({"detect", "--port", sim->path()});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("机器型号: A\\x1b]0;x\\x07B\n硬件版本: HW\\x0a1\n软件版本: 1.00\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(r.out.find('\x07'), std::string::npos);
}

TEST_F(MubtoolUpgrade, CtrlCStopsADetectThatFindsNothing) {
    auto sim = simulate({"--silent"});
    const RunResult r = mubtool({"detect", "--port", sim->path()}, "联机中");
    EXPECT_EQ(r.exitCode, 9) << r.out << r.err;
    EXPECT_NE(r.out.find("型号检测被停止！"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("机器型号:"), std::string::npos);
}

TEST_F(MubtoolUpgrade, BadInputIsRefusedClearly) {
    RunResult r = mubtool({"upgrade", "x.mub"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("--port is required"), std::string::npos) << r.err;
    r = mubtool({"upgrade", "--port", "COM1", "--baud", "1234", "x.mub"});
    EXPECT_EQ(r.exitCode, 1);
    r = mubtool({"upgrade", "--port", "COM1", "--yes", "--no", "x.mub"});
    EXPECT_EQ(r.exitCode, 1);
    folder.write("broken.mub", "not an upgrade file");
    r = mubtool({"upgrade", "--port", "COM1", folder.path("broken.mub")});
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_NE(r.err.find("error box"), std::string::npos) << r.err;
    r = mubtool({"upgrade", "--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("exit codes:"), std::string::npos);
}

} // namespace
} // namespace mub::test
