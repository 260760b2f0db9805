#include "cli/Process.h"
#include "cli/ServerTools.h"
#include "db/Session.h"
#include "settings/Settings.h"
#include "support/FakeDialogs.h"
#include "support/Files.h"
#include "support/TestServer.h"
#include "ui/GenerateStructure.h"
#include "ui/MySQL.h"

#include <QListWidget>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>

using namespace orv;
using Strings = std::vector<std::string>;

namespace {

class Cli : public ::testing::Test {
protected:
    // The command reads the settings store these tests write to.
    void SetUp() override { ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1); }
    void TearDown() override { ::unsetenv("TMPDIR"); }

    // Saves a login the way the desktop program does.
    static void store(const db::Login& login) {
        const std::pair<const char*, std::string> values[] = {
            {settings::MyServer, login.server},
            {settings::MyPort, login.port},
            {settings::MyUser, login.user},
            {settings::MyPassword, login.password},
            {settings::MyDatabase, login.database}};
        for (const auto& [key, value] : values)
            ASSERT_TRUE(settings::WriteSetting(key, QString::fromStdString(value)));
    }

    // The desktop's table list, one name a line, and the report it writes with these of its
    // tables selected.
    std::pair<std::string, std::string> desktop(const std::string& database,
                                                const Strings& selected) {
        db::Session session(test::serverLogin(database));
        QListWidget list;
        list.setSelectionMode(QAbstractItemView::ExtendedSelection);
        ui::AddMySQLToList1(list, session, dialogs);
        std::string names;
        for (int i = 0; i < list.count(); ++i) {
            const std::string name = list.item(i)->text().toStdString();
            names += name + "\n";
            list.item(i)->setSelected(std::count(selected.begin(), selected.end(), name) > 0);
        }
        const std::string path = desktopDir.file("desktop.txt");
        ui::GenerateStructure(list, session, QString::fromStdString(path), dialogs, [](bool) {});
        return {names, test::readFile(path)};
    }

    test::TempDir config;
    test::TempDir dir;
    test::TempDir desktopDir;
    test::FakeDialogs dialogs;
};

long lineCount(const std::string& text) {
    return std::count(text.begin(), text.end(), '\n');
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Nothing exported: exit status 2 and a single line on standard error that holds this text.
void expectFailure(const test::Outcome& run, const std::string& text) {
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_EQ(lineCount(run.err), 1) << run.err;
    EXPECT_TRUE(contains(run.err, text)) << run.err;
    EXPECT_EQ(run.out, "");
}

} // namespace

TEST_F(Cli, ListAndNamedTablesMatchTheDesktopWhateverTheirNames) {
    test::recreateDatabase("cli_names");
    test::sql("USE cli_names; CREATE TABLE zeta (a int); CREATE TABLE `we``ird` (`x y` char(3));"
              "CREATE TABLE `two words` (b int); CREATE TABLE `it's` (c int);"
              "CREATE TABLE `say \"hi\"` (d int); CREATE TABLE `größe` (`maß` varchar(7));"
              "CREATE TABLE `日本語` (e int); CREATE TABLE `-dash` (f int);"
              "CREATE TABLE sysone (g int);");
    // In any order, one twice: the missing and left-out ones are reported, the others written.
    const Strings asked = {"日本語", "gone",  "say \"hi\"", "it's", "two words", "sysone",
                           "we`ird", "größe", "it's",       "--",   "-dash"};
    const auto [desktopList, desktopReport] = desktop("cli_names", asked);
    store(test::serverLogin("cli_names"));
    test::Outcome run = test::runExport({{"--list"}});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, desktopList);

    run = test::runExport(test::withLogin("cli_names", asked));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "orvendel-export: table `gone` is not in database cli_names\n"
                       "orvendel-export: table `sysone` is left out: names starting with \"sys\" "
                       "are not exported\n");
    EXPECT_EQ(run.out, desktopReport);
    EXPECT_TRUE(contains(run.out, "Table Name : we`ird    Total Fields : 1"));

    // With nothing left to write, the earlier file stays.
    test::writeFile(dir.file("report.txt"), "earlier report");
    expectFailure(
        test::runExport(test::withLogin("cli_names", {"gone", "-o", dir.file("report.txt")})),
        "table `gone` is not in database cli_names");
    EXPECT_EQ(test::readFile(dir.file("report.txt")), "earlier report");
}

TEST_F(Cli, EveryColumnTypeMatchesTheGoldenReportInAFileAndOnStandardOutput) {
    test::recreateDatabase("cli_types");
    test::sql("USE cli_types;\n" +
              test::readFile(std::string(ORVENDEL_TEST_SOURCE_DIR) + "/report/all-types.sql"));
    const std::string golden = test::readFile(test::golden("all-types.txt"));
    // An earlier report is replaced whole.
    test::writeFile(dir.file("types.txt"), "earlier report");
    test::Outcome run =
        test::runExport(test::withLogin("cli_types", {"--all", "-o", dir.file("types.txt")}));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err + run.out, "");
    EXPECT_EQ(test::readFile(dir.file("types.txt")), golden);
    EXPECT_EQ(dir.listing(), "types.txt");

    // On standard output the report passes through TMPDIR, and nothing stays there.
    test::TempDir spool;
    ::setenv("TMPDIR", spool.path().c_str(), 1);
    run = test::runExport(test::withLogin("cli_types", {"--all"}));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, golden);
    EXPECT_EQ(spool.listing(), "");

    // Standard output that is a regular file is written, not replaced.
    run = test::runExport(test::withLogin("cli_types", {"--all", "-o", "/dev/stdout"}));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, golden);
}

TEST_F(Cli, AnUnreadableTableIsReportedAndWrittenWithoutFieldsAsOnTheDesktop) {
    test::recreateDatabase("cli_unreadable");
    test::sql("USE cli_unreadable; CREATE TABLE base (id int); CREATE TABLE fine (id int);"
              "CREATE VIEW broken AS SELECT id FROM base; DROP TABLE base;");
    test::Outcome run = test::runExport(test::withLogin("cli_unreadable", {"--all"}));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(lineCount(run.err), 1) << run.err;
    EXPECT_EQ(run.err.rfind("orvendel-export: table `broken`: [", 0), 0u) << run.err;
    EXPECT_TRUE(contains(run.err, "View 'cli_unreadable.broken' references invalid table(s)"));
    EXPECT_EQ(run.out, desktop("cli_unreadable", {"broken", "fine"}).second);
}

TEST_F(Cli, TheStoredPasswordIsNotSentForAnotherUser) {
    store(test::serverLogin("cli_account"));
    expectFailure(test::runExport({{"--user", "cli_other", "--list"}}),
                  "Access denied for user 'cli_other'@'127.0.0.1' (using password: NO)");
    // The same port, spelt with a leading zero, is no other server.
    const test::Outcome run = test::runExport(
        {{"--port", "0" + test::serverLogin().port, "--database", "mysql", "--list"}});
    EXPECT_EQ(run.status, 0) << run.err;
}

TEST_F(Cli, ASettingsFileOthersCouldChangeOrThatCannotBeReadIsNamedOnStandardError) {
    store(test::serverLogin("mysql"));
    const std::string path = config.file("Kestrane.ini");
    const std::string stored = test::readFile(path);
    // Whoever could write the file could have put a server of theirs in it.
    ASSERT_EQ(::chmod(path.c_str(), 0660), 0);
    test::Outcome run = test::runExport({{"--list"}});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(lineCount(run.err), 2) << run.err;
    EXPECT_EQ(run.err.rfind("orvendel-export: warning: The settings file " + path +
                                " can be changed by other users (it is writable by its group), "
                                "so the password saved in it is not used",
                            0),
              0u)
        << run.err;
    EXPECT_TRUE(contains(run.err, "(using password: NO)")) << run.err;

    // Unreadable (root is made to obey too) or damaged: the defaults, and the file as it was.
    const std::pair<std::string, std::string> unusable[] = {
        {stored, "cannot be read (Permission denied)"},
        {"[Orvendel\nMyServer=elsewhere\n", "is damaged: line 1 cannot be read"}};
    for (const auto& [content, problem] : unusable) {
        test::writeFile(path, content);
        ASSERT_EQ(::chmod(path.c_str(), content == stored ? 0 : 0600), 0);
        test::Launch launch = test::withLogin("mysql", {"--list"});
        launch.obeyPermissions = true;
        run = test::runExport(launch);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "orvendel-export: warning: The settings file " + path + " " + problem +
                               ", so the saved login is not used: the defaults are, and the file "
                               "is left as it is, with nothing saved to it. Correct or remove the "
                               "file.\n");
        ::chmod(path.c_str(), 0600);
        EXPECT_EQ(test::readFile(path), content);
    }
}

TEST_F(Cli, ThePasswordIsAskedOnTheTerminalWithoutEchoEvenAfterCtrlC) {
    test::recreateDatabase("cli_prompt");
    test::sql("USE cli_prompt; CREATE TABLE t (id int);");
    db::Login login = test::serverLogin("cli_prompt");
    const std::string password = login.password;
    login.password.clear();
    store(login);
    const std::string prompt = "Password for " + login.user + "@" + login.server + ": ";
    const test::Launch onTerminal{.arguments = {"t"}, .terminal = true};

    test::Process stopped(onTerminal);
    ASSERT_TRUE(stopped.waitForTerminal(prompt));
    EXPECT_EQ(stopped.terminalSettings().c_lflag & ECHO, 0u);
    ::kill(stopped.pid(), SIGINT);
    EXPECT_EQ(stopped.finish().signal, SIGINT);
    EXPECT_NE(stopped.terminalSettings().c_lflag & ECHO, 0u);

    test::Process process(onTerminal);
    ASSERT_TRUE(process.waitForTerminal(prompt));
    process.typeOnTerminal(password + "\n");
    test::Outcome run = process.finish();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(contains(run.err, password));
    EXPECT_NE(process.terminalSettings().c_lflag & ECHO, 0u);
    EXPECT_EQ(run.out, desktop("cli_prompt", {"t"}).second);
}

TEST_F(Cli, ProgressIsShownOnlyOnATerminalAndClearedBeforeTheReport) {
    test::recreateDatabase("cli_progress");
    test::sql("USE cli_progress; CREATE TABLE a (id int); CREATE TABLE b (id int);");
    const char* const term = std::getenv("TERM");
    const std::string previousTerm = term ? term : "";
    ::setenv("TERM", "xterm", 1);
    test::Launch launch = test::withLogin("cli_progress", {"--all"});
    launch.terminal = launch.outputOnTerminal = true;
    test::Outcome run = test::runExport(launch);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(contains(run.err, "\r\033[KTable 1 of 2: a\r\033[KTable 2 of 2: b\r\033[K "
                                  "Printing From 127.0.0.1\r\r\n"))
        << run.err;

    // A terminal without escape codes gets blanks over the earlier line.
    ::setenv("TERM", "dumb", 1);
    run = test::runExport(launch);
    EXPECT_EQ(run.status, 0);
    const std::string blank = "\r" + std::string(15, ' ') + "\r";
    EXPECT_TRUE(contains(run.err, "\rTable 1 of 2: a" + blank + "Table 2 of 2: b" + blank +
                                      " Printing From 127.0.0.1\r\r\n"))
        << run.err;
    EXPECT_EQ(run.err.find('\033'), std::string::npos) << run.err;
    if (term)
        ::setenv("TERM", previousTerm.c_str(), 1);
    else
        ::unsetenv("TERM");

    launch.terminal = launch.outputOnTerminal = false;
    run = test::runExport(launch);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
}

TEST_F(Cli, CtrlCMidExportLeavesTheEarlierFileAndNoTemporaryFile) {
    test::recreateDatabase("cli_interrupt");
    test::createTables("cli_interrupt", 150);
    test::sql("CREATE VIEW cli_interrupt.t120v AS SELECT * FROM cli_interrupt.t120;");
    test::writeFile(dir.file("report.txt"), "earlier report");
    // The export waits for a view of a locked table halfway, its report begun beside the target.
    std::optional<test::TableLock> lock(std::in_place, "cli_interrupt", "t120");
    test::Process process(
        test::withLogin("cli_interrupt", {"--all", "-o", dir.file("report.txt")}));
    ASSERT_TRUE(lock->waitForWaiter());
    EXPECT_NE(dir.listing(), "report.txt");
    ::kill(process.pid(), SIGINT);
    lock.reset();
    test::Outcome run = process.finish();
    EXPECT_EQ(run.signal, SIGINT) << run.status << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(test::readFile(dir.file("report.txt")), "earlier report");
    EXPECT_EQ(dir.listing(), "report.txt");
}

TEST_F(Cli, AFailedConnectionEndsWithOneErrorAndLeavesTheEarlierFile) {
    test::writeFile(dir.file("report.txt"), "earlier report");
    const Strings toFile = {"--all", "-o", dir.file("report.txt")};
    test::Launch wrong = test::withLogin("cli_any", toFile);
    wrong.input = "not-the-password\n";
    expectFailure(test::runExport(wrong), "Access denied for user");
    expectFailure(test::runExport(test::withLogin("cli_no_such_db", toFile)),
                  "Unknown database 'cli_no_such_db'");

    test::Launch elsewhere = test::withLogin("cli_any", toFile);
    elsewhere.arguments[3] = std::to_string(test::closedPort()); // the --port value
    expectFailure(test::runExport(elsewhere), "Can't connect to server on '127.0.0.1'");

    test::SilentListener silent;
    elsewhere.arguments[3] = std::to_string(silent.port());
    const auto started = std::chrono::steady_clock::now();
    expectFailure(test::runExport(elsewhere), "orvendel-export: ");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60))
        << "the connection attempt gives up after 15 s";

    EXPECT_EQ(test::readFile(dir.file("report.txt")), "earlier report");
    EXPECT_EQ(dir.listing(), "report.txt");
}

TEST_F(Cli, AnUnwritableOutputEndsWithOneClearError) {
    test::recreateDatabase("cli_unwritable");
    test::sql("USE cli_unwritable; CREATE TABLE t (id int);");
    expectFailure(test::runExport(test::withLogin("cli_unwritable", {"t", "-o", "/dev/full"})),
                  "orvendel-export: Cannot write the file /dev/full: No space left on device\n");
    test::Launch full = test::withLogin("cli_unwritable", {"t"});
    full.outputPath = "/dev/full";
    expectFailure(test::runExport(full), "orvendel-export: Cannot write the report to standard "
                                         "output: No space left on device\n");

    // A folder without write permission: root is made to obey it too.
    ASSERT_EQ(::mkdir(dir.file("locked").c_str(), 0555), 0);
    test::Launch locked =
        test::withLogin("cli_unwritable", {"t", "-o", dir.file("locked/report.txt")});
    locked.obeyPermissions = true;
    expectFailure(test::runExport(locked), "orvendel-export: Cannot create the file " +
                                               dir.file("locked/report.txt") +
                                               ": Permission denied\n");
    EXPECT_EQ(dir.listing(), "locked");
}

TEST_F(Cli, ANulInThePasswordEndsTheCommandBeforeAnythingIsSent) {
    // Cut at the NUL, the login would lose its port and time-outs and wait on a silent server.
    test::SilentListener silent;
    test::Launch launch = test::withLogin("cli_any", {"--all"});
    launch.arguments[3] = std::to_string(silent.port()); // the --port value
    launch.input = std::string("pass\0word\n", 10);
    expectFailure(test::runExport(launch),
                  "orvendel-export: The password contains a NUL character, which cannot be sent "
                  "to the server: nothing was sent.\n");
}

TEST_F(Cli, EncryptionThatIsRequiredFailsAgainstAServerWithoutTlsAndSendsNoLogin) {
    // An account of its own, so that the server's count of its logins is this test's alone.
    test::sql("SET GLOBAL userstat=ON; DROP USER IF EXISTS 'cli_tls'@'localhost', "
              "'cli_tls'@'127.0.0.1'; CREATE USER 'cli_tls'@'localhost' IDENTIFIED BY 'pw';"
              "CREATE USER 'cli_tls'@'127.0.0.1' IDENTIFIED BY 'pw';");
    test::writeFile(dir.file("ca.pem"), "not read");
    const std::string notOffered = "orvendel-export: The server 127.0.0.1 does not offer "
                                   "encrypted connections (TLS), and an encrypted connection "
                                   "was required: nothing was sent to it.\n";
    const std::pair<Strings, std::string> cases[] = {
        {{"--ssl-mode", "required"}, notOffered},
        {{"--ssl-ca", dir.file("ca.pem")}, notOffered},
        {{"--ssl-mode=VERIFY_IDENTITY", "--ssl-ca", dir.file("ca.pem")},
         "SSL is required, but the server does not support it"}};
    for (const auto& [options, shown] : cases) {
        test::Launch launch = test::withLogin("mysql", options);
        launch.arguments[5] = "cli_tls"; // the --user value
        launch.input = "pw\n";
        launch.arguments.push_back("--list");
        expectFailure(test::runExport(launch), shown);
    }
    EXPECT_EQ(test::queryValue("SELECT TOTAL_CONNECTIONS + DENIED_CONNECTIONS FROM "
                               "information_schema.USER_STATISTICS WHERE USER = 'cli_tls'"),
              "");
}
