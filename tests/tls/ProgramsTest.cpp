// Both programs against fake servers: the command's one line and exit status, the window's
// failure box, and what the servers received.

#include "cli/Process.h"
#include "db/Deadline.h"
#include "support/FakeDialogs.h"
#include "support/FakeServer.h"
#include "support/Files.h"
#include "ui/Form1.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

using namespace orv;
using test::FakeServer;
using test::Greeting;
using Strings = std::vector<std::string>;
using Seconds = std::chrono::duration<double>;

namespace {

class Programs : public ::testing::Test {
protected:
    void SetUp() override {
        // The programs read and write the settings store here.
        ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.path()));
    }

    // Work given up at a deadline ends once its fake server is gone; what is left of it would
    // read as a leak to the sanitizer at the end of the process.
    void TearDown() override { EXPECT_EQ(db::waitForAbandonedWork(std::chrono::seconds(10)), 0u); }

    // The command's login for the fake server, the password on standard input.
    static test::Launch command(const FakeServer& server, const Strings& arguments) {
        test::Launch launch{{"--server", "127.0.0.1", "--port", std::to_string(server.port()),
                             "--user", "fake-user", "--database", "d", "--password-stdin"},
                            "pass-word\n"};
        launch.arguments.insert(launch.arguments.end(), arguments.begin(), arguments.end());
        launch.arguments.push_back("--list");
        return launch;
    }

    // Runs the command; one that still runs after `limit` is killed.
    static test::Outcome runAtMost(const test::Launch& launch, std::chrono::seconds limit) {
        test::Process process(launch);
        const pid_t pid = process.pid();
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        std::thread watchdog([&] {
            std::unique_lock lock(mutex);
            if (!finished.wait_for(lock, limit, [&] { return done; }))
                ::kill(pid, SIGKILL);
        });
        const test::Outcome outcome = process.finish();
        {
            std::lock_guard lock(mutex);
            done = true;
        }
        finished.notify_one();
        watchdog.join();
        return outcome;
    }

    test::TempDir config;
    test::TempDir files;
};

} // namespace

TEST_F(Programs, TheCommandGivesUpOnATrickledGreetingAfterTwentySecondsInOneLine) {
    const FakeServer server({Greeting::trickled});
    const auto start = std::chrono::steady_clock::now();
    const test::Outcome run = runAtMost(command(server, {}), std::chrono::seconds(60));
    const Seconds took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(run.status, 2) << run.signal;
    EXPECT_EQ(run.err, "orvendel-export: The server 127.0.0.1 did not complete the connection "
                       "within 20 seconds: it was given up.\n");
    EXPECT_GE(took.count(), 19.0);
    EXPECT_LT(took.count(), 25.0);
}

TEST_F(Programs, TheCommandGivesUpOnANameLookupThatHangsAfterTwentySeconds) {
    // A name server that never answers, in a mount namespace of the command's own.
    const int silent = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(53);
    if (::geteuid() != 0 || ::system("unshare -m true 2>/dev/null") != 0 ||
        ::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(silent);
        GTEST_SKIP() << "needs root, mount namespaces and the DNS port of 127.0.0.1";
    }
    const std::string resolver = files.file("resolv.conf");
    test::writeFile(resolver, "nameserver 127.0.0.1\noptions timeout:30 attempts:3\n");
    const std::string err = files.file("err.txt");
    const std::string command =
        "printf 'pass-word\\n' | timeout -s KILL 60 unshare -m sh -c 'mount --bind \"$0\" "
        "/etc/resolv.conf && exec \"$1\" --server lookup-hangs.example --user u --database d "
        "--password-stdin --list' '" +
        resolver + "' '" ORVENDEL_EXPORT_BINARY "' 2>'" + err + "'";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const Seconds took = std::chrono::steady_clock::now() - start;
    ::close(silent);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
    EXPECT_EQ(test::readFile(err), "orvendel-export: The server lookup-hangs.example did not "
                                   "complete the connection within 20 seconds: it was given "
                                   "up.\n");
    EXPECT_GE(took.count(), 19.0);
    EXPECT_LT(took.count(), 25.0);
}

TEST_F(Programs, TheCaFileIsCheckedBeforeAnythingIsSent) {
    const std::string ca = files.file("ca.pem");
    test::writeFile(ca, FakeServer::certificatePem());
    const std::string fifo = files.file("fifo.pem");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string text = files.file("text.pem");
    test::writeFile(text, "-----BEGIN CERTIFICATE-----\nnot one\n-----END CERTIFICATE-----\n");
    const std::string missing = files.file("missing.pem");
    struct Case {
        std::string file;
        std::string shown;
    };
    const Case cases[] = {
        // The driver opened it after sending its TLS request, and waited for a writer for ever.
        {fifo, "The CA certificate file " + fifo + " is not a regular file."},
        {files.path(), "The CA certificate file " + files.path() + " is not a regular file."},
        {text, "The CA certificate file " + text + " holds no PEM certificate."},
        {missing,
         "The CA certificate file " + missing + " cannot be read: No such file or directory."}};
    const FakeServer server({Greeting::tls});
    for (const Case& c : cases)
        for (const char* mode : {"verify-ca", "verify-identity"}) {
            SCOPED_TRACE(c.file + ", " + mode);
            const test::Outcome run =
                runAtMost(command(server, {"--ssl-mode", mode, "--ssl-ca", c.file}),
                          std::chrono::seconds(20));
            EXPECT_EQ(run.status, 2) << run.signal;
            EXPECT_EQ(run.err, "orvendel-export: " + c.shown + "\n");
        }
    EXPECT_TRUE(server.received().empty()) << "a connection was made";

    // A link to a good file is followed; the login then goes, encrypted, to the fake server.
    const std::string link = files.file("link.pem");
    ASSERT_EQ(::symlink(ca.c_str(), link.c_str()), 0);
    const test::Outcome run =
        runAtMost(command(server, {"--ssl-ca", link}), std::chrono::seconds(20));
    EXPECT_EQ(run.err, "orvendel-export: [ma-3.1.15]Access denied for user (fake server)\n");
    EXPECT_TRUE(server.received("fake-user"));
}

TEST_F(Programs, TestConnectionGivesUpAfterTwentySecondsWhileTheWindowsRepaint) {
    const FakeServer server({Greeting::trickled});
    test::TempDir appFolder;
    test::FakeDialogs dialogs;
    ui::Form1 form1(ui::AppContext{dialogs, QString::fromStdString(appFolder.path()),
                                   [] { return 50; }, [](const QUrl&) {}});
    form1.Form_Load();
    form1.Text1->setText("127.0.0.1");
    form1.Text2->setText("fake-user");
    form1.Text3->setText("pass-word");
    form1.Text4->setText("d");
    form1.Text5->setText(QString::number(server.port()));
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(100);
    const auto start = std::chrono::steady_clock::now();
    form1.PushButton5->click();
    const Seconds took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took.count(), 19.0);
    EXPECT_LT(took.count(), 25.0);
    // The window went on handling its events all along (some 200 ticks).
    EXPECT_GT(ticks, 100);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages.back().text,
              "Could not connect. Please check with your administrator. Make sure you allowed to "
              "connect to your database remotely and not just through web-based control panels.");
    EXPECT_EQ(dialogs.messages.back().details.toStdString(),
              "The server 127.0.0.1 did not complete the connection within 20 seconds: it was "
              "given up.");
}
