// A throwaway PostgreSQL server for a test: a cluster made with initdb in
// a new temporary folder, served by pg_ctl on a Unix socket in that folder
// only (no network port), removed with the folder when the object goes.
// The server refuses to run as root: a test run by root runs the server's
// programs as the user "postgres" (made by Debian's postgresql package).
// One cluster serves a whole test program: initdb takes about a second.
// A test program that is killed or crashes takes its server with it: a
// small guard process stops the server and removes the folder once the
// program is gone.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace mub::test {

class PostgresCluster {
public:
    // Makes the cluster and starts it, with a database "mub" whose owner,
    // the superuser "mub", connects without a password. ok() tells whether
    // that worked, error() why not (the command and its output).
    PostgresCluster();
    ~PostgresCluster();
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    // A libpq connection string for `database`.
    std::string conninfo(const std::string& database = "mub") const;

    // Starts the stopped server and waits until it takes connections.
    bool start();
    // Fast: the sessions are ended and the server shuts down cleanly.
    // Immediate: the server goes as in a crash (it recovers at the next start).
    enum class StopMode { Fast, Immediate };
    bool stop(StopMode mode = StopMode::Fast);
    bool running() const { return running_; }

    // A new empty database owned by "mub".
    bool createDatabase(const std::string& name);

    // The folder of the server's programs (initdb, pg_ctl, postgres):
    // $MUB_PG_BIN, else the newest /usr/lib/postgresql/N/bin. Empty when
    // there is none.
    static std::string serverBinDir();

private:
    // Runs one of the server's programs (as "postgres" when this is root);
    // false, with the command and its output in error_, when it fails.
    bool runServerProgram(const std::string& program, const std::vector<std::string>& args);
    bool fail(const std::string& why);
    void startGuard();

    std::string binDir_;
    std::string folder_;  // ours: the commands' output
    std::string pgFolder_; // the server's: data, socket, log
    int port_ = 5432;      // the socket's name only: the folder is private
    bool running_ = false;
    int guardPipe_ = -1; // its end closes when this program ends, however
    pid_t guard_ = -1;
    std::string error_;
};

} // namespace mub::test
