#include "tests/support/collector_process.h"

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

CollectorProcess::CollectorProcess(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return;
    std::vector<std::string> all{SimulatorProcess::binDir() + "/mub-collector"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    const int rc = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    stdout_ = pipeFds[0];
    if (rc != 0) {
        pid_ = -1;
        return;
    }
    const std::string mark = "listening on http://";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{stdout_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char c = 0;
        if (::read(stdout_, &c, 1) != 1) break; // it ended
        output_ += c;
        const std::size_t at = output_.find(mark);
        if (c == '\n' && at != std::string::npos) {
            const std::size_t colon = output_.rfind(':');
            port_ = std::atoi(output_.c_str() + colon + 1);
            break;
        }
    }
}

CollectorProcess::~CollectorProcess() {
    stop(true);
    if (stdout_ >= 0) ::close(stdout_);
}

int CollectorProcess::stop(bool kill) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, kill ? SIGKILL : SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
}

} // namespace mub::test
