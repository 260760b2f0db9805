// Stops the server it runs against: give it a private one (scripts/test-server.sh).

#include "cli/Process.h"
#include "cli/ServerTools.h"
#include "support/Files.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

using namespace orv;

TEST(CliServerStopped, MidExportTheReportIsDroppedWithOneError) {
    test::TempDir config, dir;
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    test::recreateDatabase("cli_stop");
    test::createTables("cli_stop", 300);
    test::sql("CREATE VIEW cli_stop.t150v AS SELECT * FROM cli_stop.t150;");
    test::writeFile(dir.file("report.txt"), "earlier report");

    // The export waits for a view of a locked table halfway; then the server goes away.
    test::TableLock lock("cli_stop", "t150");
    test::Process process(test::withLogin("cli_stop", {"--all", "-o", dir.file("report.txt")}));
    ASSERT_TRUE(lock.waitForWaiter());
    const std::string shutdown = "mariadb-admin --no-defaults -uroot --socket='" +
                                 std::string(std::getenv("ORVENDEL_TEST_SOCKET")) + "' shutdown";
    ASSERT_EQ(std::system(shutdown.c_str()), 0);
    test::Outcome run = process.finish();

    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.err.rfind("orvendel-export: the connection to 127.0.0.1 was lost while reading "
                            "table `t",
                            0),
              0u)
        << run.err;
    EXPECT_NE(run.err.find("no report written: ["), std::string::npos) << run.err;
    EXPECT_EQ(test::readFile(dir.file("report.txt")), "earlier report");
    EXPECT_EQ(dir.listing(), "report.txt");
}
