#include "tests/support/postgres_cluster.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace mub::test {

namespace {

namespace fs = std::filesystem;

constexpr const char* serverUser = "postgres";

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The last `count` characters of a text: a failed command's last words.
std::string tail(const std::string& text, std::size_t count = 2000) {
    return text.size() <= count ? text : "..." + text.substr(text.size() - count);
}

} // namespace

std::string PostgresCluster::serverBinDir() {
    if (const char* dir = std::getenv("MUB_PG_BIN"); dir && *dir) return dir;
    std::string best;
    int bestVersion = -1;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ignored)) {
        const int version = std::atoi(entry.path().filename().c_str());
        if (version > bestVersion && fs::exists(entry.path() / "bin" / "pg_ctl", ignored)) {
            bestVersion = version;
            best = (entry.path() / "bin").string();
        }
    }
    return best;
}

PostgresCluster::PostgresCluster() {
    binDir_ = serverBinDir();
    if (binDir_.empty()) {
        fail("no PostgreSQL server programs (no /usr/lib/postgresql/N/bin/pg_ctl): scripts/setup installs the "
             "postgresql package");
        return;
    }
    const passwd* user = ::geteuid() == 0 ? ::getpwnam(serverUser) : nullptr;
    if (::geteuid() == 0 && !user) {
        fail("running as root, and there is no user postgres to run the server as (the postgresql package makes it)");
        return;
    }
    std::string pattern = (fs::temp_directory_path() / "mub-pg-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        fail("cannot make a temporary folder from " + pattern);
        return;
    }
    folder_ = pattern;
    pgFolder_ = folder_ + "/pg";
    startGuard();
    // The server's user must reach its folder inside ours.
    ::chmod(folder_.c_str(), 0755);
    if (::mkdir(pgFolder_.c_str(), 0700) != 0 || (user && ::chown(pgFolder_.c_str(), user->pw_uid, user->pw_gid) != 0)) {
        fail("cannot make the server's folder " + pgFolder_);
        return;
    }
    // No fsync: a test's server need not outlive a power cut, only its own
    // crash (an immediate stop), which the operating system's cache does.
    if (!runServerProgram("initdb", {"--no-sync", "--auth=trust", "--username=mub", "--encoding=UTF8",
                                     "--locale=C", "-D", pgFolder_ + "/data"}) ||
        !start() || !createDatabase("mub"))
        return;
}

PostgresCluster::~PostgresCluster() {
    if (running_) stop(StopMode::Immediate);
    if (!folder_.empty()) {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    if (guardPipe_ >= 0) ::close(guardPipe_);
    if (guard_ > 0) ::waitpid(guard_, nullptr, 0);
}

void PostgresCluster::startGuard() {
    // The guard reads its stdin until the write end closes, which the
    // kernel does when this program ends; then it stops the server as a
    // crash would and removes the folder (both harmless when done already).
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return;
    const std::string asUser = ::geteuid() == 0 ? std::string("runuser -u ") + serverUser + " -- " : "";
    std::string script = "read -r ignored; " + asUser + "'" + binDir_ + "/pg_ctl' -D '" + pgFolder_ +
                         "/data' -m immediate -w stop >/dev/null 2>&1; rm -rf '" + folder_ + "'";
    char shell[] = "/bin/sh", dashC[] = "-c";
    char* argv[] = {shell, dashC, script.data(), nullptr};
    const pid_t child = ::fork();
    if (child == 0) {
        // Its own process group: a Ctrl+C at the terminal ends the test, not the guard.
        ::setpgid(0, 0);
        ::dup2(ends[0], STDIN_FILENO);
        ::chdir("/");
        ::execv(argv[0], argv);
        ::_exit(127);
    }
    ::close(ends[0]);
    guardPipe_ = ends[1];
    guard_ = child;
}

bool PostgresCluster::fail(const std::string& why) {
    error_ = why;
    return false;
}

bool PostgresCluster::runServerProgram(const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> command;
    if (::geteuid() == 0) command = {"runuser", "-u", serverUser, "--"};
    command.push_back(binDir_ + "/" + program);
    command.insert(command.end(), args.begin(), args.end());
    const std::string output = folder_ + "/command-output";
    // Made before the fork: the child of a program with threads may only
    // make calls that take no lock (no allocation) until it runs the program.
    std::vector<char*> argv;
    for (std::string& part : command) argv.push_back(part.data());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        // In a folder the server's user may enter; the output to a file.
        const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out < 0 || ::chdir(pgFolder_.c_str()) != 0) ::_exit(127);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string text;
        for (const std::string& part : command) text += (text.empty() ? "" : " ") + part;
        return fail(text + " failed (status " + std::to_string(status) + "):\n" + tail(fileText(output)));
    }
    return true;
}

bool PostgresCluster::start() {
    const std::string options = "-k " + pgFolder_ + " -p " + std::to_string(port_) +
                                " -c listen_addresses= -c fsync=off -c max_connections=40";
    if (!runServerProgram("pg_ctl", {"-D", pgFolder_ + "/data", "-o", options, "-l", pgFolder_ + "/log", "-w",
                                     "-t", "60", "start"})) {
        error_ += "\nserver log:\n" + tail(fileText(pgFolder_ + "/log"));
        return false;
    }
    running_ = true;
    error_.clear();
    return true;
}

bool PostgresCluster::stop(StopMode mode) {
    if (!runServerProgram("pg_ctl", {"-D", pgFolder_ + "/data", "-m", mode == StopMode::Fast ? "fast" : "immediate",
                                     "-w", "-t", "60", "stop"}))
        return false;
    running_ = false;
    return true;
}

bool PostgresCluster::createDatabase(const std::string& name) {
    return runServerProgram("createdb", {"-h", pgFolder_, "-p", std::to_string(port_), "-U", "mub", name});
}

std::string PostgresCluster::conninfo(const std::string& database) const {
    return "host=" + pgFolder_ + " port=" + std::to_string(port_) + " user=mub dbname=" + database;
}

} // namespace mub::test
