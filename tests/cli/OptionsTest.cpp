#include "cli/ExportCommand.h"
#include "cli/Terminal.h"
#include "settings/Settings.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

using namespace orv;
using cli::Options;
using cli::parseOptions;
using Strings = std::vector<std::string>;

namespace {

// Every test runs with a settings store of its own.
class CliIsolated : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1); }
    test::TempDir config;
};

std::string drain(int fd) {
    std::string text;
    char buffer[4096];
    while (ssize_t got = ::read(fd, buffer, sizeof buffer)) {
        if (got < 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return text;
}

struct Ran {
    int status;
    std::string out;
    std::string err;
};

// Runs the command in this process with pipes for its streams.
Ran runHere(const Strings& arguments, const std::string& input = {}) {
    int out[2], err[2], in[2];
    EXPECT_EQ(::pipe(out), 0);
    EXPECT_EQ(::pipe(err), 0);
    EXPECT_EQ(::pipe(in), 0);
    EXPECT_EQ(::write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    ::close(in[1]);
    int status = cli::run(arguments, {in[0], out[1], err[1]});
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    return {status, drain(out[0]), drain(err[0])};
}

} // namespace

TEST(CliOptions, ValuesInEitherFormAndEachTableOnce) {
    Options o = parseOptions({"--server", "db.example", "--port=3307", "--user=ann", "--database",
                              "shop", "-o", "out.txt", "b", "a", "b", "--", "--odd", "-", "a"});
    EXPECT_EQ(o.server, "db.example");
    EXPECT_EQ(o.port, "3307");
    EXPECT_EQ(o.user, "ann");
    EXPECT_EQ(o.database, "shop");
    EXPECT_EQ(o.output, "out.txt");
    EXPECT_EQ(o.tables, (Strings{"b", "a", "--odd", "-"}));
    EXPECT_FALSE(o.all || o.list || o.passwordStdin);

    o = parseOptions({"-oreport.txt", "--output=second.txt", "--all", "--password-stdin"});
    EXPECT_EQ(o.output, "second.txt");
    EXPECT_TRUE(o.all && o.passwordStdin);

    // Values are bytes: an empty one, one with "=" and one that is no UTF-8 stay as given.
    o = parseOptions({"--server=", "--user", "a=b", "--database", "\xff\xfe", "--list"});
    EXPECT_EQ(o.server, "");
    EXPECT_EQ(o.user, "a=b");
    EXPECT_EQ(o.database, "\xff\xfe");
    EXPECT_TRUE(o.list);

    EXPECT_TRUE(parseOptions({"--help"}).help);
    EXPECT_TRUE(parseOptions({"--version", "--port", "nonsense"}).version);
}

TEST(CliOptions, BadUsageIsRefusedWithItsReason) {
    const std::vector<std::pair<Strings, std::string>> cases = {
        {{}, "name the tables to report, or give --all or --list"},
        {{"--all", "t"}, "give table names or --all, not both"},
        {{"--list", "t"}, "--list takes no table names, --all or --output"},
        {{"--list", "-o", "f.txt"}, "--list takes no table names, --all or --output"},
        {{"--port", "0", "--all"}, "port 0 is not a number from 1 to 65535"},
        {{"--port", "65536", "--all"}, "port 65536 is not a number from 1 to 65535"},
        {{"--port", "33o6", "--all"}, "port 33o6 is not a number from 1 to 65535"},
        {{"--port=", "--all"}, "port  is not a number from 1 to 65535"},
        {{"--port", " 3306", "--all"}, "port  3306 is not a number from 1 to 65535"},
        {{"--all", "--server"}, "option --server needs a value"},
        {{"--all", "-o"}, "option -o needs a value"},
        {{"--all=yes"}, "option --all takes no value"},
        {{"-o", "", "--all"}, "the output file name is empty"},
        {{"--bogus", "--all"}, "unknown option --bogus"},
        {{"-x", "--all"}, "unknown option -x"},
    };
    for (const auto& [arguments, reason] : cases) {
        try {
            parseOptions(arguments);
            ADD_FAILURE() << "accepted: " << testing::PrintToString(arguments);
        } catch (const cli::UsageError& e) {
            EXPECT_EQ(std::string(e.what()), reason);
        }
    }
}

TEST(CliOptions, APasswordOnTheCommandLineIsNeverTaken) {
    for (const Strings& arguments :
         {Strings{"--password", "secret", "--all"}, Strings{"--password=secret", "--all"},
          Strings{"-psecret", "--all"}}) {
        try {
            parseOptions(arguments);
            ADD_FAILURE() << "accepted: " << testing::PrintToString(arguments);
        } catch (const cli::UsageError& e) {
            EXPECT_NE(std::string(e.what()).find("--password-stdin"), std::string::npos);
            EXPECT_EQ(std::string(e.what()).find("secret"), std::string::npos);
        }
    }
}

TEST_F(CliIsolated, TheStoreGivesTheDesktopDefaultsAndItsValues) {
    EXPECT_EQ(cli::storedLogin().server, "localhost");
    EXPECT_EQ(cli::storedLogin().port, "3306");
    EXPECT_EQ(cli::storedLogin().user, "");
    EXPECT_EQ(cli::storedLogin().password, "");
    EXPECT_EQ(cli::storedLogin().database, "");

    ASSERT_TRUE(settings::WriteSetting(settings::MyServer, "db.example"));
    ASSERT_TRUE(settings::WriteSetting(settings::MyPort, "3307"));
    ASSERT_TRUE(settings::WriteSetting(settings::MyUser, "ann"));
    ASSERT_TRUE(settings::WriteSetting(settings::MyPassword, "pa ss;wörd"));
    ASSERT_TRUE(settings::WriteSetting(settings::MyDatabase, "größe"));
    db::Login stored = cli::storedLogin();
    EXPECT_EQ(stored.server, "db.example");
    EXPECT_EQ(stored.port, "3307");
    EXPECT_EQ(stored.user, "ann");
    EXPECT_EQ(stored.password, "pa ss;wörd");
    EXPECT_EQ(stored.database, "größe");
}

TEST(CliLoginValues, TheCommandLineOverridesTheStoreButNeverThePassword) {
    const db::Login stored{"db.example", "ann", "secret", "shop", "3306"};
    db::Login login = cli::overriddenLogin(stored, parseOptions({"--database", "other", "--all"}));
    EXPECT_EQ(login.server, "db.example");
    EXPECT_EQ(login.database, "other");
    EXPECT_EQ(login.password, "secret");
    EXPECT_TRUE(cli::storedPasswordApplies(stored, login));

    login = cli::overriddenLogin(stored, parseOptions({"--server", "db.example", "--user", "ann",
                                                       "--port", "3306", "--all"}));
    EXPECT_TRUE(cli::storedPasswordApplies(stored, login)) << "the same account, given again";

    for (const Strings& other : {Strings{"--server", "elsewhere.example"},
                                 Strings{"--port", "3307"}, Strings{"--user", "bob"}}) {
        Strings arguments = other;
        arguments.push_back("--all");
        EXPECT_FALSE(cli::storedPasswordApplies(
            stored, cli::overriddenLogin(stored, parseOptions(arguments))))
            << other[0];
    }
}

TEST(CliSelection, NamedTablesFollowTheListAndUnknownNamesAreKept) {
    const Strings listed = {"zeta", "we`ird", "alpha", "größe"};
    cli::Selection chosen =
        cli::selectTables(listed, parseOptions({"größe", "nope", "zeta", "sysobj", "größe"}));
    EXPECT_EQ(chosen.tables, (Strings{"zeta", "größe"}));
    EXPECT_EQ(chosen.missing, (Strings{"nope", "sysobj"}));

    chosen = cli::selectTables(listed, parseOptions({"Zeta"}));
    EXPECT_TRUE(chosen.tables.empty()) << "names are matched exactly";
    EXPECT_EQ(chosen.missing, Strings{"Zeta"});

    chosen = cli::selectTables(listed, parseOptions({"--all"}));
    EXPECT_EQ(chosen.tables, listed);
    EXPECT_TRUE(chosen.missing.empty());
}

TEST(CliNames, QuotingDescriptorsAndTerminalSafety) {
    EXPECT_EQ(cli::quotedName("we`ird"), "`we``ird`");
    EXPECT_EQ(cli::quotedName("two words"), "`two words`");

    const cli::Console console{4, 5, 6};
    EXPECT_EQ(cli::descriptorPath("-", console), 5);
    EXPECT_EQ(cli::descriptorPath("/dev/stdout", console), 5);
    EXPECT_EQ(cli::descriptorPath("/dev/stderr", console), 6);
    EXPECT_EQ(cli::descriptorPath("/dev/stdin", console), 4);
    EXPECT_EQ(cli::descriptorPath("/dev/fd/1", console), 5);
    EXPECT_EQ(cli::descriptorPath("/proc/self/fd/2", console), 6);
    EXPECT_EQ(cli::descriptorPath("/dev/fd/9", console), 9);
    EXPECT_EQ(cli::descriptorPath("/dev/fd/x", console), std::nullopt);
    EXPECT_EQ(cli::descriptorPath("/dev/full", console), std::nullopt);
    EXPECT_EQ(cli::descriptorPath("report.txt", console), std::nullopt);

    EXPECT_EQ(cli::printable("a\033[2Jb\r\n"), "a?[2Jb??");
    EXPECT_EQ(cli::printable("x\xc2\x9b"
                             "1m größe 日本"),
              "x?1m größe 日本");
}

TEST_F(CliIsolated, HelpVersionAndUsageErrorsWithoutAServer) {
    Ran help = runHere({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: orvendel-export [OPTION]... TABLE...\n", 0), 0u);
    EXPECT_NE(help.out.find("--password-stdin"), std::string::npos);
    EXPECT_EQ(help.err, "");

    Ran version = runHere({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "orvendel-export (Orvendel) " ORVENDEL_VERSION "\n");
    EXPECT_EQ(version.err, "");

    Ran bad = runHere({"--all", "--colour"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err, "orvendel-export: unknown option --colour (see orvendel-export --help)\n");

    Ran nasty = runHere({"--all", "--\033[2J"});
    EXPECT_EQ(nasty.err, "orvendel-export: unknown option --?[2J (see orvendel-export --help)\n");

    // An endless line is not read to its end: the limit ends it before any connection.
    Ran endless = runHere({"--password-stdin", "--all"}, std::string(20000, 'x'));
    EXPECT_EQ(endless.status, 2);
    EXPECT_EQ(endless.err, "orvendel-export: The password from standard input is longer than "
                           "4096 bytes.\n");
}
