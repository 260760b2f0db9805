// Stops the server it runs against: give it a private one (scripts/test-server.sh).

#include "cli/Process.h"
#include "cli/ServerTools.h"
#include "support/Files.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

using namespace orv;

TEST(CliServerStopped, MidExportTheReportIsDroppedWithOneError) {
    test::TempDir config, dir;
    test::recreateDatabase("cli_stop");
    test::createTables("cli_stop", 300);
    test::writeFile(dir.file("report.txt"), "earlier report");

    const db::Login login = test::serverLogin("cli_stop");
    test::Launch launch;
    launch.configHome = config.path();
    launch.arguments = {"--server",         login.server, "--port",     login.port,
                        "--user",           login.user,   "--database", login.database,
                        "--password-stdin", "--all",      "-o",         dir.file("report.txt")};
    launch.input = login.password + "\n";

    // The export waits for a locked table halfway; then the server goes away.
    std::optional<test::TableLock> lock(std::in_place, "cli_stop", "t150");
    test::Process process(launch);
    ASSERT_TRUE(lock->waitForWaiter());
    const std::string shutdown = "mariadb-admin --no-defaults -uroot --socket='" +
                                 std::string(std::getenv("ORVENDEL_TEST_SOCKET")) + "' shutdown";
    ASSERT_EQ(std::system(shutdown.c_str()), 0);
    test::Outcome run = process.finish();
    lock.reset();

    EXPECT_EQ(run.status, 2);
    ASSERT_EQ(run.errorLines().size(), 1u) << run.err;
    const std::string line = run.errorLines()[0];
    EXPECT_EQ(line.rfind("orvendel-export: the connection to 127.0.0.1 was lost while reading "
                         "table `t",
                         0),
              0u)
        << line;
    EXPECT_NE(line.find("no report written: ["), std::string::npos) << line;
    EXPECT_EQ(test::readFile(dir.file("report.txt")), "earlier report");
    EXPECT_EQ(dir.listing(), "report.txt");
}
