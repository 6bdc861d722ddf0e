#include "tests/support/simulator_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

extern char** environ;

namespace mub::test {

std::string SimulatorProcess::binDir() {
    const char* dir = std::getenv("MUB_BIN_DIR");
    if (dir && *dir) return dir;
    // Test programs live in the same folder as mubtool.
    char self[4096];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return ".";
    std::string path(self, static_cast<std::size_t>(n));
    auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

SimulatorProcess::SimulatorProcess(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return;
    std::string program = binDir() + "/mubtool";
    std::vector<std::string> all{program, "simulate"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    int rc = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    output_ = pipeFds[0];
    if (rc != 0) {
        pid_ = -1;
        return;
    }
    // The first lines are the terminals' paths, one per machine.
    std::size_t machines = 1;
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "--machines") machines = static_cast<std::size_t>(std::atoi(args[i + 1].c_str()));
    std::vector<std::string> paths;
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{output_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char c = 0;
        if (::read(output_, &c, 1) != 1) break;
        if (c == '\n') {
            paths.push_back(line);
            line.clear();
            if (paths.size() == machines) {
                paths_ = paths;
                break;
            }
            continue;
        }
        line += c;
    }
}

SimulatorProcess::~SimulatorProcess() {
    stop();
    if (output_ >= 0) ::close(output_);
}

void SimulatorProcess::signal(int number) const {
    if (pid_ > 0) ::kill(pid_, number);
}

int SimulatorProcess::stop(bool kill) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, kill ? SIGKILL : SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
}

} // namespace mub::test
