// mub-collector: takes the stations' upgrade records over HTTP and keeps
// them in PostgreSQL; serves the shift report. A Linux service: the
// settings come from the command line, its lines go to stderr (the journal),
// SIGTERM and SIGINT end it once the requests under way are answered.
#include "collector/collector_server.h"
#include "collector/collector_settings.h"
#include "collector/database.h"
#include "collector/service_log.h"
#include "collector/station_tokens.h"

#include <malloc.h>

#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace mub::collector;

// At most this many database connections: the work of a batch is short,
// the workers share them.
constexpr std::size_t databaseConnections = 4;

} // namespace

int main(int argc, char** argv) {
    // A report holds a day's records (some megabytes) for a moment, on
    // whichever worker takes the request. By default each worker's arena
    // hands that memory back to the system after the request and faults it
    // in anew at the next one, which took most of a report's time; one
    // shared arena that keeps up to 64 MiB free does not.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);

    bool help = false;
    std::string error;
    const auto settings = parseCollectorArgs(std::vector<std::string>(argv + 1, argv + argc), help, error);
    if (help) {
        std::fputs(collectorUsage, stdout);
        return 0;
    }
    if (!settings) {
        std::fprintf(stderr, "mub-collector: %s\n%s", error.c_str(), collectorUsage);
        return 2;
    }
    const auto tokens = StationTokens::load(settings->tokensFile, error);
    if (!tokens) {
        std::fprintf(stderr, "mub-collector: %s\n", error.c_str());
        return 2;
    }

    // The stop signals are taken by one thread with sigwait; every other
    // thread (the workers among them) inherits them blocked.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Database database(settings->conninfo, databaseConnections);
    // A database that is there but wrong (a newer schema, no right to make
    // tables) stops the start; one that is not there yet is waited for.
    const mub::collector::DbStatus status = database.check(error);
    if (status == DbStatus::Failed) {
        std::fprintf(stderr, "mub-collector: the database: %s\n", error.c_str());
        return 1;
    }
    if (status == DbStatus::Unavailable)
        serviceLog("database unavailable (" + error + "); batches are answered 503 until it is back");
    else if (const SchemaCheck schema = database.schema(); schema.before != schema.after)
        serviceLog("database tables brought from version " + std::to_string(schema.before) + " to " +
                   std::to_string(schema.after));

    CollectorServer server(*settings, *tokens, database);
    if (!server.bind(settings->listen, error)) {
        std::fprintf(stderr, "mub-collector: %s\n", error.c_str());
        return 1;
    }
    std::printf("listening on %s\n", listenUrl(settings->listen.host, server.port()).c_str());
    std::fflush(stdout);

    std::thread stopper([&] {
        int signal = 0;
        sigwait(&stops, &signal);
        serviceLog(std::string("stopping (") + (signal == SIGTERM ? "SIGTERM" : "SIGINT") + ")");
        server.stop();
    });
    server.serve();
    // serve() ends only through the stopper (or when listening fails).
    if (stopper.joinable()) {
        pthread_kill(stopper.native_handle(), SIGTERM);
        stopper.join();
    }
    serviceLog("stopped");
    return 0;
}
