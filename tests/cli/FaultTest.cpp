// The command where input is hostile or luck is bad: locks, odd names, odd output paths,
// signals, closed streams.

#include "cli/Process.h"
#include "cli/ServerTools.h"
#include "support/Files.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>

using namespace orv;
using Clock = std::chrono::steady_clock;

namespace {

class CliFault : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1); }
    void TearDown() override { ::unsetenv("TMPDIR"); }

    test::TempDir config;
    test::TempDir dir;
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST_F(CliFault, LockedTablesNeitherStallTheExportNorEndIt) {
    test::recreateDatabase("fault_lock");
    test::createTables("fault_lock", 5);
    test::sql("CREATE VIEW fault_lock.t3v AS SELECT * FROM fault_lock.t3;");
    test::TableLock lock("fault_lock", "t3");
    const auto started = Clock::now();
    test::Outcome run =
        test::runExport(test::withLogin("fault_lock", {"--all", "-o", dir.file("r.txt")}));
    // The table itself is described by the catalogue; its view, which must be prepared, waits
    // a few seconds and is then reported, and the rest is written.
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(25));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(contains(run.err, "table `t3v`: ")) << run.err;
    const std::string report = test::readFile(dir.file("r.txt"));
    EXPECT_TRUE(contains(report, "Table Name : t3    Total Fields : 3\r\n"));
    EXPECT_TRUE(contains(report, "Table Name : t3v    Total Fields : 0\r\n"));
    EXPECT_TRUE(contains(report, "Table Name : t5    Total Fields : 3\r\n"));
}

TEST_F(CliFault, ALockedTableCostsOneWaitThoughItsViewIsPreparedLater) {
    // The locked table alone has a column of its type, so the driver is asked about it first;
    // its view is asked about in a later statement, behind 60 other views.
    test::recreateDatabase("fault_lock_once");
    test::createTables("fault_lock_once", 1);
    std::string statements = "USE fault_lock_once; CREATE TABLE odd (y year);"
                             "CREATE VIEW odd_v AS SELECT * FROM odd;";
    for (int i = 10; i < 70; ++i)
        statements += "CREATE VIEW a" + std::to_string(i) + " AS SELECT * FROM t1;";
    test::sql(statements);
    test::TableLock lock("fault_lock_once", "odd");
    const auto started = Clock::now();
    test::Outcome run =
        test::runExport(test::withLogin("fault_lock_once", {"--all", "-o", dir.file("r.txt")}));
    // One wait of 5 s, not one for each statement that meets the lock.
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(9));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(contains(run.err, "table `odd_v`: ")) << run.err;
    EXPECT_TRUE(
        contains(test::readFile(dir.file("r.txt")), "Table Name : a69    Total Fields : 3\r\n"));
}

TEST_F(CliFault, CtrlCEndsAtOnceBehindALockAndLeavesNoSpoolEvenTwice) {
    test::recreateDatabase("fault_stop");
    test::createTables("fault_stop", 3);
    test::sql("CREATE VIEW fault_stop.t2v AS SELECT * FROM fault_stop.t2;");
    ::setenv("TMPDIR", dir.path().c_str(), 1);
    std::optional<test::TableLock> lock(std::in_place, "fault_stop", "t2");
    test::Process process(test::withLogin("fault_stop", {"--all"}));
    ASSERT_TRUE(lock->waitForWaiter());
    EXPECT_NE(dir.listing(), "");
    const auto stopped = Clock::now();
    ::kill(process.pid(), SIGINT);
    ::kill(process.pid(), SIGINT);
    test::Outcome run = process.finish();
    EXPECT_LT(Clock::now() - stopped, std::chrono::seconds(3));
    EXPECT_EQ(run.signal, SIGINT);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(dir.listing(), "");
}

TEST_F(CliFault, NamesWithLineBreaksStayOneLineAndNoColumnIsLeftOut) {
    test::recreateDatabase("fault_names");
    std::string wide = "CREATE VIEW fault_names.wide AS SELECT 1 AS c0";
    for (int c = 1; c < 32768; ++c)
        wide += ", 1 AS c" + std::to_string(c);
    test::sql("USE fault_names; CREATE TABLE `two\nlines` (`a\rb` int, `c\td` int);"
              "CREATE TABLE hidden (a int, b int INVISIBLE, c char(2), d date INVISIBLE);" +
              wide + ";");
    test::Outcome list = test::runExport(test::withLogin("fault_names", {"--list"}));
    EXPECT_EQ(list.out, "hidden\ntwo\\x0Alines\nwide\n");
    test::Outcome run = test::runExport(test::withLogin("fault_names", {"--all"}));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(contains(run.out, "2) two\\x0Alines\r\n"));
    EXPECT_TRUE(contains(run.out, "Table Name : two\\x0Alines    Total Fields : 2\r\n"));
    EXPECT_TRUE(contains(run.out, " a\\x0Db                    Integer     \r\n c\\x09d"));
    EXPECT_TRUE(contains(run.out, "Table Name : hidden    Total Fields : 4\r\n"));
    EXPECT_TRUE(contains(run.out, " b                         Integer     \r\n c      "));
    // Too wide for the server to describe in a result; the catalogue knows its columns.
    EXPECT_TRUE(contains(run.out, "Table Name : wide    Total Fields : 32768\r\n"));
    EXPECT_TRUE(contains(run.out, " c32767                    Integer     \r\n"));
}

TEST_F(CliFault, OutputPathsAreReplacedOnlyWhenTheyAreRegularFiles) {
    test::recreateDatabase("fault_paths");
    test::sql("USE fault_paths; CREATE TABLE t (id int);");
    auto exportTo = [](const std::string& path) {
        return test::runExport(test::withLogin("fault_paths", {"t", "-o", path}));
    };

    // Another spelling of standard output is written through, never replaced by a file.
    test::Launch odd = test::withLogin("fault_paths", {"t", "-o", "/dev//stdout"});
    odd.outputPath = dir.file("captured.txt");
    EXPECT_EQ(test::runExport(odd).status, 0);
    EXPECT_TRUE(contains(test::readFile(dir.file("captured.txt")), "Table Name : t    "));
    struct stat info {};
    ASSERT_EQ(::lstat("/dev/stdout", &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));

    // A pipe nobody reads is an error at once.
    ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
    const auto started = Clock::now();
    test::Outcome piped = exportTo(dir.file("pipe"));
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(20));
    EXPECT_EQ(piped.status, 2);
    EXPECT_TRUE(contains(piped.err, "no program is reading from it")) << piped.err;

    // A replaced report keeps its mode; a link stays a link to the new report.
    test::writeFile(dir.file("private.txt"), "earlier");
    ASSERT_EQ(::chmod(dir.file("private.txt").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("private.txt", dir.file("link.txt").c_str()), 0);
    EXPECT_EQ(exportTo(dir.file("link.txt")).status, 0);
    ASSERT_EQ(::lstat(dir.file("link.txt").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    ASSERT_EQ(::stat(dir.file("private.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_TRUE(contains(test::readFile(dir.file("private.txt")), "Table Name : t    "));

    // A writable report in a folder that refuses new files: the message says it is the folder.
    ASSERT_EQ(::mkdir(dir.file("shut").c_str(), 0755), 0);
    test::writeFile(dir.file("shut/r.txt"), "earlier");
    ASSERT_EQ(::chmod(dir.file("shut").c_str(), 0555), 0);
    test::Launch shut = test::withLogin("fault_paths", {"t", "-o", dir.file("shut/r.txt")});
    shut.obeyPermissions = true;
    test::Outcome refused = test::runExport(shut);
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(contains(refused.err, "the folder " + dir.file("shut") + " does not allow new"))
        << refused.err;
    ::chmod(dir.file("shut").c_str(), 0755);
}

TEST_F(CliFault, AClosedStandardErrorIsNoFileAndNoCoreHoldsThePassword) {
    test::recreateDatabase("fault_streams");
    // The broken view fails while the report is being written, and its error goes to standard
    // error, which must not be the report.
    test::sql("USE fault_streams; CREATE TABLE t (id int); CREATE TABLE gone (id int);"
              "CREATE VIEW broken AS SELECT * FROM gone; DROP TABLE gone;");
    test::Launch closed = test::withLogin("fault_streams", {"--all", "-o", dir.file("r.txt")});
    closed.errorClosed = true;
    EXPECT_EQ(test::runExport(closed).status, 1);
    EXPECT_FALSE(contains(test::readFile(dir.file("r.txt")), "orvendel-export"));

    // Stopped by a signal that dumps core while it holds a password at the prompt.
    rlimit previous{};
    ::getrlimit(RLIMIT_CORE, &previous);
    const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
    ASSERT_EQ(::setrlimit(RLIMIT_CORE, &unlimited), 0);
    char* here = ::getcwd(nullptr, 0);
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    test::Launch asking{{"--server", "127.0.0.1", "--user", "someone", "--list"}};
    asking.terminal = true;
    test::Process process(asking);
    ASSERT_TRUE(process.waitForTerminal("Password for someone@127.0.0.1: "));
    process.typeOnTerminal("a secret");
    ::kill(process.pid(), SIGQUIT);
    test::Outcome run = process.finish();
    EXPECT_EQ(::chdir(here), 0);
    std::free(here);
    ::setrlimit(RLIMIT_CORE, &previous);
    EXPECT_EQ(run.signal, SIGQUIT);
    EXPECT_FALSE(run.coreDumped);
    EXPECT_EQ(dir.listing(), "r.txt");
}

// Shared hosting limits an account's logins: the table list and the report share one.
TEST_F(CliFault, AnAccountOfOneLoginAnHourStillExports) {
    test::recreateDatabase("fault_quota");
    test::createTables("fault_quota", 70);
    test::sql("DROP USER IF EXISTS 'quota'@'localhost', 'quota'@'127.0.0.1';"
              "CREATE USER 'quota'@'localhost' IDENTIFIED BY 'pw' WITH MAX_CONNECTIONS_PER_HOUR 1;"
              "CREATE USER 'quota'@'127.0.0.1' IDENTIFIED BY 'pw' WITH MAX_CONNECTIONS_PER_HOUR 1;"
              "GRANT SELECT ON fault_quota.* TO 'quota'@'localhost';"
              "GRANT SELECT ON fault_quota.* TO 'quota'@'127.0.0.1';");
    test::Launch launch = test::withLogin("fault_quota", {"--all", "-o", dir.file("r.txt")});
    launch.arguments[5] = "quota"; // the --user value
    launch.input = "pw\n";
    test::Outcome run = test::runExport(launch);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(
        contains(test::readFile(dir.file("r.txt")), "Table Name : t70    Total Fields : 3"));
}

TEST_F(CliFault, AReportIsReplacedOnlyAsTheShellWouldReplaceIt) {
    test::recreateDatabase("fault_replace");
    test::sql("USE fault_replace; CREATE TABLE t (id int);");
    const auto exportTo = [](const std::string& path, bool obeyPermissions = false) {
        test::Launch launch = test::withLogin("fault_replace", {"t", "-o", path});
        launch.obeyPermissions = obeyPermissions;
        return test::runExport(launch);
    };
    const auto isLink = [](const std::string& path) {
        struct stat info {};
        return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
    };

    // A file the user may not write is refused, as ">" refuses it (root is made to obey here).
    test::writeFile(dir.file("ro.txt"), "earlier");
    ASSERT_EQ(::chmod(dir.file("ro.txt").c_str(), 0444), 0);
    test::Outcome run = exportTo(dir.file("ro.txt"), true);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "orvendel-export: Cannot replace the file " + dir.file("ro.txt") +
                           ": you may not write to it (Permission denied)\n");
    EXPECT_EQ(test::readFile(dir.file("ro.txt")), "earlier");

    // Links that lead nowhere are an error, and stay links.
    ASSERT_EQ(::symlink("loop-b", dir.file("loop-a").c_str()), 0);
    ASSERT_EQ(::symlink("loop-a", dir.file("loop-b").c_str()), 0);
    run = exportTo(dir.file("loop-a"));
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(
        contains(run.err, "its link cannot be followed (Too many levels of symbolic links)"))
        << run.err;
    EXPECT_TRUE(isLink(dir.file("loop-a")));
    // A path that is no link is not said to be one.
    run = exportTo(dir.file("ro.txt") + "/r.txt");
    EXPECT_EQ(run.err, "orvendel-export: Cannot create the file " + dir.file("ro.txt") +
                           "/r.txt: Not a directory\n");

    // A link in a folder deeper than PATH_MAX is followed from where it is.
    const int here = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    const std::string level(200, 'd');
    int depth = 0;
    for (; depth < 25 && ::mkdir(level.c_str(), 0700) == 0 && ::chdir(level.c_str()) == 0;
         ++depth) {
    }
    EXPECT_EQ(depth, 25);
    test::writeFile("target.txt", "earlier");
    ASSERT_EQ(::symlink("target.txt", "link.txt"), 0);
    run = exportTo("link.txt");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(isLink("link.txt"));
    EXPECT_TRUE(contains(test::readFile("target.txt"), "Table Name : t    "));
    // The folders go from the bottom up: no path reaches the bottom one.
    ::unlink("link.txt");
    ::unlink("target.txt");
    for (; depth > 0 && ::chdir("..") == 0; --depth)
        ::rmdir(level.c_str());
    EXPECT_EQ(::fchdir(here), 0);
    ::close(here);

    if (::geteuid() != 0)
        GTEST_SKIP() << "only root replaces another user's report";
    // Root replacing a user's private report gives it back to the user.
    test::writeFile(dir.file("users.txt"), "earlier");
    ASSERT_EQ(::chown(dir.file("users.txt").c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(dir.file("users.txt").c_str(), 0600), 0);
    EXPECT_EQ(exportTo(dir.file("users.txt")).status, 0);
    struct stat info {};
    ASSERT_EQ(::stat(dir.file("users.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_TRUE(contains(test::readFile(dir.file("users.txt")), "Table Name : t    "));

    // A link another user put in a folder everyone may write, as /tmp, is not followed, as the
    // kernel does not follow it for the shell (fs.protected_symlinks, on by default).
    const std::string shared = dir.file("shared"), planted = shared + "/report.txt";
    ASSERT_EQ(::mkdir(shared.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    test::writeFile(dir.file("victim.txt"), "earlier");
    ASSERT_EQ(::symlink(dir.file("victim.txt").c_str(), planted.c_str()), 0);
    ASSERT_EQ(::lchown(planted.c_str(), 65534, 65534), 0);
    const test::Outcome planting = exportTo(planted);
    EXPECT_EQ(planting.status, 2);
    EXPECT_TRUE(contains(planting.err, "its link cannot be followed (Permission denied)"))
        << planting.err;
    EXPECT_EQ(test::readFile(dir.file("victim.txt")), "earlier");
    EXPECT_TRUE(isLink(planted));
}

// As "| head -1" leaves it: other filters die of SIGPIPE without a word, and so does this one.
TEST_F(CliFault, AReaderThatStopsReadingEndsTheCommandQuietly) {
    test::recreateDatabase("fault_pipe");
    test::sql("USE fault_pipe; CREATE TABLE t (id int);");
    // A check prints its differences to the same closed pipe.
    test::TempDir records;
    ::setenv("TMPDIR", dir.path().c_str(), 1);
    const std::string earlier = records.file("earlier.txt");
    ASSERT_EQ(test::runExport(test::withLogin("fault_pipe", {"--all", "-o", earlier})).status, 0);
    test::sql("ALTER TABLE fault_pipe.t ADD COLUMN added int;");
    const std::string check = "--check=" + earlier;
    for (const std::string& what :
         {std::string("--list"), std::string("--all"), std::string("--help"), check}) {
        test::Launch launch = test::withLogin("fault_pipe", {what});
        if (what == check)
            launch.arguments.push_back("--all");
        launch.outputUnread = true;
        const test::Outcome run = test::runExport(launch);
        EXPECT_EQ(run.signal, SIGPIPE) << what << ": " << run.status << " " << run.err;
        EXPECT_EQ(run.err, "");
    }
    EXPECT_EQ(dir.listing(), "");
}

TEST_F(CliFault, RunningOutOfMemoryIsSaidInWords) {
    // A settings file far larger than the memory the command is given.
    const std::string store = config.file("Kestrane.ini");
    test::writeFile(store, "");
    ASSERT_EQ(::truncate(store.c_str(), 1L << 30), 0);
    test::Launch launch{{"--list"}};
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer reserves far more address space than any limit: its allocator is limited.
    const char* const options = std::getenv("ASAN_OPTIONS");
    const std::string previous = options ? options : "";
    ::setenv("ASAN_OPTIONS",
             (previous + ":allocator_may_return_null=1:max_allocation_size_mb=256").c_str(), 1);
#else
    launch.addressSpace = size_t{512} << 20;
#endif
    const test::Outcome run = test::runExport(launch);
#if defined(__SANITIZE_ADDRESS__)
    ::setenv("ASAN_OPTIONS", previous.c_str(), 1);
    // The sanitizer tells of the refused allocation first, on a line of its own.
    const std::string shown = run.err.substr(run.err.find('\n') + 1);
#else
    const std::string& shown = run.err;
#endif
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(shown, "orvendel-export: out of memory: the system would not give the command the "
                     "memory it needed, and nothing was written\n");
}
