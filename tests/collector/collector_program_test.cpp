// The program mub-collector as a service runs it: it starts before its
// database does, says where it listens, and ends cleanly on SIGTERM.
#include "tests/collector/collector_test_support.h"
#include "tests/support/collector_process.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

namespace mub::test {
namespace {

TEST(CollectorProgram, WaitsForItsDatabaseAndStopsOnSigterm) {
    ASSERT_TRUE(clusterReady());
    const std::string conninfo = freshDatabase();
    TempFolder folder;
    folder.write("tokens", std::string("# the line's stations\n") + tokenA + " station-a\n");
    ASSERT_TRUE(sharedCluster().stop()) << sharedCluster().error();

    CollectorProcess collector({"--db", conninfo, "--listen", "127.0.0.1:0", "--tokens", folder.path("tokens")});
    ASSERT_TRUE(collector.listening()) << collector.output();
    EXPECT_EQ(collector.output(), "listening on http://127.0.0.1:" + std::to_string(collector.port()) + "\n");
    httplib::Client client("127.0.0.1", collector.port());
    const auto send = [&] {
        return client.Post("/records", {{"Authorization", std::string("Bearer ") + tokenA}},
                           batchBody({sampleRecord(1)}), "application/json");
    };
    EXPECT_EQ(send()->status, 503);
    ASSERT_TRUE(sharedCluster().start()) << sharedCluster().error();
    EXPECT_EQ(send()->status, 200);
    EXPECT_EQ(rowCount(conninfo, "upgrade_records"), 1);

    const int status = collector.stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(CollectorProgram, RefusesToStartWithoutWorkingSettings) {
    TempFolder folder;
    folder.write("no-tokens", "# none yet\n");
    const std::vector<std::string> wrong[] = {
        {"--db", "dbname=x", "--listen", "127.0.0.1:http", "--tokens", folder.path("no-tokens")},
        {"--db", "dbname=x", "--listen", "127.0.0.1:0", "--tokens", folder.path("no-tokens")},
        {"--db", "dbname=x", "--listen", "127.0.0.1:0", "--tokens", folder.path("missing")},
    };
    for (const auto& args : wrong) {
        CollectorProcess collector(args);
        EXPECT_FALSE(collector.listening());
        const int status = collector.stop();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << args[3] << " " << args[5] << ": " << status;
    }
}

} // namespace
} // namespace mub::test
