#include "cli/ExportCommand.h"
#include "cli/Process.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace orv;
using Strings = std::vector<std::string>;

TEST(CliOptions, HelpVersionAndBadUsageAreAnsweredWithoutAServer) {
    test::TempDir config;
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    struct Case {
        Strings arguments;
        int status;
        std::string shown; // on standard output for status 0, else on standard error
        std::string input = {};
    };
    const Case cases[] = {
        {{"--help"}, 0, "Usage: orvendel-export [OPTION]... TABLE...\n"},
        {{"--version"}, 0, "orvendel-export (Orvendel) " ORVENDEL_VERSION "\nLicense: MIT\n"},
        {{}, 2, "name the tables to report, or give --all or --list"},
        {{"--port", "33o6", "--all"}, 2, "port 33o6 is not a number from 1 to 65535"},
        {{"--all", "--server"}, 2, "option --server needs a value"},
        {{"--ssl-mode", "strict", "--all"},
         2,
         "--ssl-mode strict is not one of preferred, required, verify-ca, verify-identity"},
        {{"--ssl-mode=verify-ca", "--all"}, 2, "verify-identity need --ssl-ca FILE"},
        {{"--ssl-mode", "required", "--ssl-ca", "ca.pem", "--all"},
         2,
         "--ssl-ca is used only with --ssl-mode verify-ca or verify-identity"},
        // Terminal controls and bytes that are not UTF-8 are shown as names are; other letters
        // as they are.
        {{"--all", "--\033[2Jgröße\xc2\x9b\xe2\x80\xa8\xff\xc3"},
         2,
         "orvendel-export: unknown option --\\x1B[2Jgröße\\xC2\\x9B\\xE2\\x80\\xA8\\xFF\\xC3 (see "
         "orvendel-export --help)\n"},
        {{"--password", "secret", "--all"}, 2, "--password-stdin"},
        {{"--password=secret", "--all"}, 2, "--password-stdin"},
        {{"-psecret", "--all"}, 2, "--password-stdin"},
        // The limit ends an endless line before any connection.
        {{"--password-stdin", "--all"},
         2,
         "orvendel-export: The password from standard input is longer than 4096 bytes.\n",
         std::string(20000, 'x')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        test::Outcome run = test::runExport({c.arguments, c.input});
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(c.status == 0 ? run.err : run.out, "");
        const std::string& shown = c.status == 0 ? run.out : run.err;
        EXPECT_NE(shown.find(c.shown), std::string::npos) << shown;
        EXPECT_EQ(run.err.find("secret"), std::string::npos);
    }
}

TEST(CliOptions, TheStoredPasswordIsOnlyForItsOwnServerPortAndUser) {
    const db::Login stored{"db.example", "ann", "secret", "shop", "3306"};
    auto applies = [&](Strings arguments) {
        arguments.push_back("--all");
        return cli::storedPasswordApplies(
            stored, cli::overriddenLogin(stored, cli::parseOptions(arguments)));
    };
    EXPECT_TRUE(applies({"--database", "other"}));
    EXPECT_TRUE(applies({"--server", "db.example", "--port", "3306", "--user", "ann"}));
    EXPECT_TRUE(applies({"--port", "03306"}));
    EXPECT_TRUE(
        cli::storedPasswordApplies({"db.example", "ann", "secret", "shop", "03306"},
                                   cli::overriddenLogin(stored, cli::parseOptions({"--all"}))));
    EXPECT_FALSE(applies({"--server", "elsewhere.example"}));
    EXPECT_FALSE(applies({"--port", "3307"}));
    EXPECT_FALSE(applies({"--user", "bob"}));
}
