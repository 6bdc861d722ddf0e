// A simulated machine (`mubtool simulate`) run as a child process for a
// test: started with options, its pseudo-terminal path read from its first
// line of output, stopped with SIGTERM when the object goes away.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace mub::test {

class SimulatorProcess {
public:
    // Starts $MUB_BIN_DIR/mubtool simulate ARGS. started() tells whether the
    // path line came within 10 s (a line per machine with --machines N).
    explicit SimulatorProcess(const std::vector<std::string>& args = {});
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    bool started() const { return !paths_.empty(); }
    std::string path() const { return paths_.empty() ? std::string() : paths_.front(); }
    // One terminal per machine.
    const std::vector<std::string>& paths() const { return paths_; }

    // Ends the simulator: SIGTERM (it writes its report) or SIGKILL (as if
    // the machine were unplugged); waits for it. Returns its exit status.
    int stop(bool kill = false);
    // Sends it a signal (SIGUSR1: its plans' machines now on the lines are the last).
    void signal(int number) const;

    // The folder of mubtool and the other programs: $MUB_BIN_DIR, else the
    // folder of the running test program.
    static std::string binDir();

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::vector<std::string> paths_;
};

} // namespace mub::test
