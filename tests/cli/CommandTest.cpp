#include "cli/Process.h"
#include "cli/ServerTools.h"
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

#include <cstdlib>
#include <optional>

using namespace orv;
using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

namespace {

class Cli : public ::testing::Test {
protected:
    // WriteSetting below stores into the same folder the command reads.
    void SetUp() override { ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1); }

    test::Launch launch(Strings arguments) const {
        test::Launch l;
        l.arguments = std::move(arguments);
        l.configHome = config.path();
        return l;
    }

    // The test server's login on the command line, its password on standard input.
    test::Launch withLogin(const std::string& database, const Strings& arguments) const {
        const db::Login login = test::serverLogin(database);
        test::Launch l = launch({"--server", login.server, "--port", login.port, "--user",
                                 login.user, "--database", database, "--password-stdin"});
        l.arguments.insert(l.arguments.end(), arguments.begin(), arguments.end());
        l.input = login.password + "\n";
        return l;
    }

    // Saves a login the way the desktop program does.
    static void store(const db::Login& login) {
        ASSERT_TRUE(
            settings::WriteSetting(settings::MyServer, QString::fromStdString(login.server)));
        ASSERT_TRUE(settings::WriteSetting(settings::MyPort, QString::fromStdString(login.port)));
        ASSERT_TRUE(settings::WriteSetting(settings::MyUser, QString::fromStdString(login.user)));
        ASSERT_TRUE(
            settings::WriteSetting(settings::MyPassword, QString::fromStdString(login.password)));
        ASSERT_TRUE(
            settings::WriteSetting(settings::MyDatabase, QString::fromStdString(login.database)));
    }

    // The table list of the desktop's selection window.
    Strings desktopList(const db::Login& login) {
        QListWidget list;
        ui::AddMySQLToList1(list, login, dialogs);
        Strings names;
        for (int i = 0; i < list.count(); ++i)
            names.push_back(list.item(i)->text().toStdString());
        return names;
    }

    // The report the desktop program writes with these tables selected in its list.
    std::string desktopReport(const db::Login& login, const Strings& selected) {
        QListWidget list;
        list.setSelectionMode(QAbstractItemView::ExtendedSelection);
        ui::AddMySQLToList1(list, login, dialogs);
        list.clearSelection();
        for (int i = 0; i < list.count(); ++i)
            list.item(i)->setSelected(
                std::find(selected.begin(), selected.end(), list.item(i)->text().toStdString()) !=
                selected.end());
        const std::string path = desktopDir.file("desktop.txt");
        ui::GenerateStructure(list, login, QString::fromStdString(path), dialogs, [](bool) {});
        return test::readFile(path);
    }

    test::TempDir config;
    test::TempDir dir;
    test::TempDir desktopDir;
    test::FakeDialogs dialogs;
};

const std::string oddNamesSql =
    "CREATE TABLE zeta (a int); CREATE TABLE `we``ird` (`x y` char(3));"
    "CREATE TABLE `two words` (b int); CREATE TABLE `it's` (c int);"
    "CREATE TABLE `say \"hi\"` (d int); CREATE TABLE `größe` (`maß` varchar(7));"
    "CREATE TABLE `日本語` (e int); CREATE TABLE alpha (f int); CREATE TABLE sysone (g int);"
    "CREATE TABLE SYStwo (h int); CREATE TABLE sy (i int);";

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

// --- Listing and reports: the same as the desktop program ----------------------------------

TEST_F(Cli, ListPrintsTheTablesOfTheSelectionWindowWithTheStoredLogin) {
    test::recreateDatabase("cli_list");
    test::sql("USE cli_list; " + oddNamesSql);
    store(test::serverLogin("cli_list"));
    test::Outcome run = test::runExport(launch({"--list"}));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    std::string expected;
    for (const std::string& name : desktopList(test::serverLogin("cli_list")))
        expected += name + "\n";
    EXPECT_EQ(run.out, expected);
    EXPECT_TRUE(contains(run.out, "\nsy\n") || run.out.rfind("sy\n", 0) == 0);
    EXPECT_FALSE(contains(run.out, "sysone") || contains(run.out, "SYStwo"));
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 9);
}

TEST_F(Cli, NamedTablesAreFoundAndReportedInListOrderAsTheDesktopDoes) {
    test::recreateDatabase("cli_names");
    test::sql("USE cli_names; " + oddNamesSql);
    const Strings asked = {"日本語", "say \"hi\"", "it's", "two words", "we`ird", "größe", "it's"};
    test::Outcome run = test::runExport(withLogin("cli_names", asked));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, desktopReport(test::serverLogin("cli_names"), asked));
    EXPECT_TRUE(contains(run.out, "Table Name : we`ird    Total Fields : 1"));
    EXPECT_FALSE(contains(run.out, "zeta"));
}

TEST_F(Cli, EveryColumnTypeMatchesTheGoldenReportInAFileAndOnStandardOutput) {
    test::recreateDatabase("cli_types");
    test::sql("USE cli_types;\n" +
              test::readFile(std::string(ORVENDEL_TEST_SOURCE_DIR) + "/report/all-types.sql"));
    test::TempDir spool;
    test::Launch toFile = withLogin("cli_types", {"--all", "-o", dir.file("types.txt")});
    toFile.env["TMPDIR"] = spool.path();
    test::Outcome run = test::runExport(toFile);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(test::readFile(dir.file("types.txt")), test::readFile(test::golden("all-types.txt")));
    EXPECT_EQ(dir.listing(), "types.txt");

    test::Launch toOutput = withLogin("cli_types", {"--all"});
    toOutput.env["TMPDIR"] = spool.path();
    run = test::runExport(toOutput);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, test::readFile(test::golden("all-types.txt")));
    EXPECT_EQ(spool.listing(), "") << "the report is not left in the temporary folder";

    // Standard output that is a regular file is written, not replaced.
    toOutput.outputPath = dir.file("redirected.txt");
    toOutput.arguments.push_back("-o");
    toOutput.arguments.push_back("/dev/stdout");
    run = test::runExport(toOutput);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(test::readFile(dir.file("redirected.txt")),
              test::readFile(test::golden("all-types.txt")));
    EXPECT_EQ(dir.listing(), "redirected.txt types.txt");
}

TEST_F(Cli, AReadOnlyEarlierReportIsReplacedWhole) {
    test::recreateDatabase("cli_replace");
    test::sql("USE cli_replace; CREATE TABLE t (id int);");
    test::writeFile(dir.file("report.txt"), "earlier report");
    ::chmod(dir.file("report.txt").c_str(), 0444);
    test::Outcome run =
        test::runExport(withLogin("cli_replace", {"t", "-o", dir.file("report.txt")}));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(test::readFile(dir.file("report.txt")),
              desktopReport(test::serverLogin("cli_replace"), {"t"}));
    EXPECT_EQ(dir.listing(), "report.txt");
}

// --- Tables that cannot be exported --------------------------------------------------------

TEST_F(Cli, MissingAndLeftOutNamesAreReportedAndTheOthersWritten) {
    test::recreateDatabase("cli_missing");
    test::sql("USE cli_missing; CREATE TABLE present (id int); CREATE TABLE other (id int);"
              "CREATE TABLE sysdata (id int);");
    test::Outcome run = test::runExport(withLogin("cli_missing", {"present", "gone", "sysdata"}));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.errorLines(),
              (Strings{"orvendel-export: table `gone` is not in database cli_missing",
                       "orvendel-export: table `sysdata` is left out: names starting with "
                       "\"sys\" are not exported"}));
    EXPECT_EQ(run.out, desktopReport(test::serverLogin("cli_missing"), {"present"}));

    // Nothing to export at all: the earlier file stays as it was.
    test::writeFile(dir.file("report.txt"), "earlier report");
    run = test::runExport(withLogin("cli_missing", {"gone", "-o", dir.file("report.txt")}));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.errorLines(),
              Strings{"orvendel-export: table `gone` is not in database cli_missing"});
    EXPECT_EQ(test::readFile(dir.file("report.txt")), "earlier report");
    EXPECT_EQ(dir.listing(), "report.txt");

    test::recreateDatabase("cli_empty");
    run = test::runExport(withLogin("cli_empty", {"--all"}));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.errorLines(),
              Strings{"orvendel-export: database cli_empty has no tables to export"});
    EXPECT_EQ(run.out, "");
}

TEST_F(Cli, AnUnreadableTableIsWrittenWithoutFieldsAsOnTheDesktop) {
    test::recreateDatabase("cli_unreadable");
    test::sql("USE cli_unreadable; CREATE TABLE base (id int); CREATE TABLE fine (id int);"
              "CREATE VIEW broken AS SELECT id FROM base; DROP TABLE base;");
    test::Outcome run = test::runExport(withLogin("cli_unreadable", {"--all"}));
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(run.errorLines().size(), 1u) << run.err;
    EXPECT_EQ(run.errorLines()[0].rfind("orvendel-export: table `broken`: [", 0), 0u) << run.err;
    EXPECT_TRUE(contains(run.err, "View 'cli_unreadable.broken' references invalid table(s)"))
        << run.err;
    EXPECT_EQ(run.out, desktopReport(test::serverLogin("cli_unreadable"), {"broken", "fine"}));
    EXPECT_TRUE(contains(run.out, "Table Name : broken    Total Fields : 0"));
}

// --- The password ---------------------------------------------------------------------------

TEST_F(Cli, TheStoredPasswordServesItsOwnAccountOnly) {
    test::recreateDatabase("cli_account");
    test::sql("USE cli_account; CREATE TABLE t (id int);");
    db::Login stored = test::serverLogin("cli_elsewhere");
    store(stored);
    // Another database of the same account: the stored password is used.
    test::Outcome run = test::runExport(launch({"--database", "cli_account", "--list"}));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "t\n");

    // Another user whose password happens to be the same must not get it.
    test::sql("DROP USER IF EXISTS 'cli_other'@'127.0.0.1'; CREATE USER 'cli_other'@'127.0.0.1' "
              "IDENTIFIED BY '" +
              stored.password +
              "'; GRANT ALL ON cli_account.* TO "
              "'cli_other'@'127.0.0.1';");
    run = test::runExport(launch({"--user", "cli_other", "--database", "cli_account", "--list"}));
    EXPECT_EQ(run.status, 2);
    ASSERT_EQ(run.errorLines().size(), 1u) << run.err;
    EXPECT_TRUE(contains(run.err, "Access denied for user 'cli_other'@'127.0.0.1' (using "
                                  "password: NO)"))
        << run.err;

    // Its own password from standard input, with a Windows line end.
    test::Launch own =
        launch({"--user", "cli_other", "--database", "cli_account", "--password-stdin", "--list"});
    own.input = stored.password + "\r\n";
    run = test::runExport(own);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "t\n");
}

TEST_F(Cli, ThePasswordIsAskedOnTheTerminalWithoutEcho) {
    test::recreateDatabase("cli_prompt");
    test::sql("USE cli_prompt; CREATE TABLE t (id int);");
    db::Login login = test::serverLogin("cli_prompt");
    const std::string password = login.password;
    login.password.clear();
    store(login);
    test::Launch l = launch({"t"});
    l.terminal = true;
    test::Process process(l);
    ASSERT_TRUE(process.waitForTerminal("Password for " + login.user + "@" + login.server + ": "));
    EXPECT_EQ(process.terminalSettings().c_lflag & ECHO, 0u);
    process.typeOnTerminal(password + "\n");
    test::Outcome run = process.finish();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(contains(run.err, password));
    EXPECT_NE(process.terminalSettings().c_lflag & ECHO, 0u);
    EXPECT_EQ(run.out, desktopReport(test::serverLogin("cli_prompt"), {"t"}));
}

TEST_F(Cli, CtrlCAtThePasswordPromptGivesTheEchoBack) {
    store({"127.0.0.1", "nobody-here", "", "cli_prompt", "3306"});
    test::Launch l = launch({"--all"});
    l.terminal = true;
    test::Process process(l);
    ASSERT_TRUE(process.waitForTerminal("Password for nobody-here@127.0.0.1: "));
    ASSERT_EQ(process.terminalSettings().c_lflag & ECHO, 0u);
    ::kill(process.pid(), SIGINT);
    test::Outcome run = process.finish();
    EXPECT_EQ(run.signal, SIGINT);
    EXPECT_NE(process.terminalSettings().c_lflag & ECHO, 0u);
    EXPECT_EQ(run.out, "");
}

// --- Progress and interruption --------------------------------------------------------------

TEST_F(Cli, ProgressIsShownOnlyOnATerminalAndClearedAtTheEnd) {
    test::recreateDatabase("cli_progress");
    test::sql("USE cli_progress; CREATE TABLE a (id int); CREATE TABLE b (id int);");
    test::Launch l = withLogin("cli_progress", {"--all"});
    l.terminal = true;
    test::Outcome run = test::runExport(l);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(contains(run.err, "\r\033[KTable 1 of 2: a\r\033[KTable 2 of 2: b")) << run.err;
    EXPECT_EQ(run.err.substr(run.err.size() - 4), "\r\033[K") << "the line is cleared";
    EXPECT_TRUE(run.errorLines().empty());
    EXPECT_EQ(run.out, desktopReport(test::serverLogin("cli_progress"), {"a", "b"}));

    // The report on the same terminal starts on a line of its own.
    l.outputOnTerminal = true;
    run = test::runExport(l);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(contains(run.err, "Table 2 of 2: b\r\033[K Printing From 127.0.0.1\r\r\n"))
        << run.err;

    l.terminal = false;
    l.outputOnTerminal = false;
    run = test::runExport(l);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
}

TEST_F(Cli, AnInterruptedExportLeavesTheEarlierFileAndNoTemporaryFile) {
    test::recreateDatabase("cli_interrupt");
    test::createTables("cli_interrupt", 150);
    test::writeFile(dir.file("report.txt"), "earlier report");
    // The export waits for a locked table halfway, its report begun beside the target.
    std::optional<test::TableLock> lock(std::in_place, "cli_interrupt", "t120");
    test::Process process(withLogin("cli_interrupt", {"--all", "-o", dir.file("report.txt")}));
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

// --- Failures that export nothing -----------------------------------------------------------

TEST_F(Cli, ARefusedLoginOrUnknownDatabaseLeavesTheEarlierFile) {
    test::recreateDatabase("cli_refused");
    test::sql("USE cli_refused; CREATE TABLE t (id int);");
    test::writeFile(dir.file("report.txt"), "earlier report");

    test::Launch wrong = withLogin("cli_refused", {"t", "-o", dir.file("report.txt")});
    wrong.input = "not-the-password\n";
    test::Outcome run = test::runExport(wrong);
    EXPECT_EQ(run.status, 2);
    ASSERT_EQ(run.errorLines().size(), 1u) << run.err;
    EXPECT_TRUE(contains(run.errorLines()[0], "Access denied for user")) << run.err;

    run = test::runExport(withLogin("cli_no_such_db", {"t", "-o", dir.file("report.txt")}));
    EXPECT_EQ(run.status, 2);
    ASSERT_EQ(run.errorLines().size(), 1u) << run.err;
    EXPECT_TRUE(contains(run.errorLines()[0], "Unknown database 'cli_no_such_db'")) << run.err;

    EXPECT_EQ(test::readFile(dir.file("report.txt")), "earlier report");
    EXPECT_EQ(dir.listing(), "report.txt");
}

TEST_F(Cli, NothingListeningOrASilentServerEndsWithOneError) {
    test::Launch closed = withLogin("cli_any", {"--all", "-o", dir.file("report.txt")});
    closed.arguments[3] = std::to_string(test::closedPort());
    test::Outcome run = test::runExport(closed);
    EXPECT_EQ(run.status, 2);
    ASSERT_EQ(run.errorLines().size(), 1u) << run.err;
    EXPECT_TRUE(contains(run.errorLines()[0], "Can't connect to server on '127.0.0.1'")) << run.err;

    test::SilentListener silent;
    test::Launch quiet = withLogin("cli_any", {"--all", "-o", dir.file("report.txt")});
    quiet.arguments[3] = std::to_string(silent.port());
    run = test::runExport(quiet);
    EXPECT_EQ(run.status, 2);
    EXPECT_LT(run.took, 60s) << "the connection attempt gives up after 15 s";
    ASSERT_EQ(run.errorLines().size(), 1u) << run.err;
    EXPECT_EQ(dir.listing(), "");
}

TEST_F(Cli, AnUnwritableOutputExportsNothing) {
    test::recreateDatabase("cli_unwritable");
    test::sql("USE cli_unwritable; CREATE TABLE t (id int);");
    auto failsWith = [&](const test::Launch& l, const std::string& line) {
        test::Outcome run = test::runExport(l);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.errorLines(), Strings{line}) << run.err;
        EXPECT_EQ(run.out, "");
    };
    failsWith(withLogin("cli_unwritable", {"t", "-o", "/dev/full"}),
              "orvendel-export: Cannot write the file /dev/full: No space left on device");

    test::Launch full = withLogin("cli_unwritable", {"t"});
    full.outputPath = "/dev/full";
    failsWith(full, "orvendel-export: Cannot write the report to standard output: No space left "
                    "on device");

    // Root may write into any folder: these fail for every user.
    test::writeFile(dir.file("plain.txt"), "a file");
    failsWith(withLogin("cli_unwritable", {"t", "-o", dir.file("plain.txt/report.txt")}),
              "orvendel-export: Cannot create the file " + dir.file("plain.txt/report.txt") +
                  ": Not a directory");
    failsWith(withLogin("cli_unwritable", {"t", "-o", dir.file("missing/report.txt")}),
              "orvendel-export: Cannot create the file " + dir.file("missing/report.txt") +
                  ": No such file or directory");
    failsWith(withLogin("cli_unwritable", {"t", "-o", dir.path()}),
              "orvendel-export: Cannot create the file " + dir.path() + ": Is a directory");

    // A folder without write permission: root is made to obey it too.
    ASSERT_EQ(::mkdir(dir.file("locked").c_str(), 0555), 0);
    test::Launch locked = withLogin("cli_unwritable", {"t", "-o", dir.file("locked/report.txt")});
    locked.obeyPermissions = true;
    failsWith(locked, "orvendel-export: Cannot create the file " + dir.file("locked/report.txt") +
                          ": Permission denied");
    EXPECT_EQ(dir.listing(), "locked plain.txt");
}
