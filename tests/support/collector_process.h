// The collector program (mub-collector) run as a child process for a test:
// started with its options, ready once it printed "listening on
// http://HOST:PORT" (its port then known, also for --listen HOST:0),
// stopped with SIGTERM or killed when the test says, killed at the end.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace mub::test {

class CollectorProcess {
public:
    // Starts $MUB_BIN_DIR/mub-collector ARGS and waits up to 10 s for its
    // line; listening() tells whether it came.
    explicit CollectorProcess(const std::vector<std::string>& args);
    ~CollectorProcess();
    CollectorProcess(const CollectorProcess&) = delete;
    CollectorProcess& operator=(const CollectorProcess&) = delete;

    bool listening() const { return port_ > 0; }
    int port() const { return port_; }
    // What it printed on stdout until now (its listening line).
    const std::string& output() const { return output_; }

    // SIGTERM (it answers what is under way and ends) or SIGKILL; waits
    // for it and returns its wait status (-1 when it was not running).
    int stop(bool kill = false);

private:
    pid_t pid_ = -1;
    int stdout_ = -1;
    int port_ = 0;
    std::string output_;
};

} // namespace mub::test
