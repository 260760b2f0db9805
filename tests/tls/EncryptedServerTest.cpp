// Runs against a private server that accepts only encrypted connections
// (ORVENDEL_TEST_TLS=required scripts/test-server.sh); the desktop box part also under an
// empty driver list.

#include "cli/Process.h"
#include "cli/ServerTools.h"
#include "settings/Settings.h"
#include "support/FakeDialogs.h"
#include "support/Files.h"
#include "support/TestServer.h"
#include "ui/Form1.h"
#include "ui/Form2.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

using namespace orv;
using Strings = std::vector<std::string>;

namespace {

bool hasTlsServer() {
    const char* ca = std::getenv("ORVENDEL_TEST_TLS_CA");
    return ca && *ca;
}

class LoginWindow : public ::testing::Test {
protected:
    void SetUp() override { qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.path())); }

    ui::Form1& start() {
        form1 = std::make_unique<ui::Form1>(ui::AppContext{dialogs,
                                                           QString::fromStdString(appFolder.path()),
                                                           [] { return 50; }, [](const QUrl&) {}});
        form1->Form_Load();
        return *form1;
    }

    void type(const db::Login& login) {
        form1->Text1->setText(QString::fromStdString(login.server));
        form1->Text2->setText(QString::fromStdString(login.user));
        form1->Text3->setText(QString::fromStdString(login.password));
        form1->Text4->setText(QString::fromStdString(login.database));
        form1->Text5->setText(QString::fromStdString(login.port));
    }

    // The detailed text of the box "Test Connection" shows for this login.
    std::string failureDetails(const db::Login& login) {
        type(login);
        form1->PushButton5->click();
        EXPECT_EQ(dialogs.messages.back().text, failureText);
        return dialogs.messages.back().details.toStdString();
    }

    static constexpr const char* failureText =
        "Could not connect. Please check with your administrator. Make sure you allowed to "
        "connect to your database remotely and not just through web-based control panels.";

    test::TempDir config;
    test::TempDir appFolder;
    test::TempDir files;
    test::FakeDialogs dialogs;
    std::unique_ptr<ui::Form1> form1;
};

// The logins of the test server's account that the server has counted: completed, of those
// encrypted, and refused.
std::string loginCounts() {
    return test::queryValue(
        "SELECT CONCAT_WS(' ', TOTAL_CONNECTIONS, TOTAL_SSL_CONNECTIONS, DENIED_CONNECTIONS) "
        "FROM information_schema.USER_STATISTICS WHERE USER = '" +
        test::serverLogin().user + "'");
}

} // namespace

TEST_F(LoginWindow, EverySessionIsEncryptedAndTheReportIsTheSameAsWithoutTls) {
    if (!hasTlsServer())
        GTEST_SKIP() << "needs a server started with ORVENDEL_TEST_TLS=required";
    test::sql("SET GLOBAL userstat=ON");
    test::recreateDatabase("tls_types");
    test::sql("USE tls_types;\n" +
              test::readFile(std::string(ORVENDEL_TEST_SOURCE_DIR) + "/report/all-types.sql"));
    // The report of this schema from a server without TLS.
    const std::string golden = test::readFile(test::golden("all-types.txt"));

    start();
    type(test::serverLogin("tls_types"));
    form1->PushButton5->click();
    EXPECT_EQ(dialogs.texts(), QStringList{"Connection successful."});
    form1->PushButton3->click();
    ASSERT_TRUE(form1->hasForm2());
    ui::Form2& form2 = form1->form2();
    ASSERT_EQ(form2.List1->count(), 2);
    form2.PushButton8->click();
    dialogs.fileNames.push_back(QString::fromStdString(files.file("report.txt")));
    form2.PushButton5->click();
    EXPECT_EQ(dialogs.texts(), (QStringList{"Connection successful.", "Done."}));
    EXPECT_EQ(test::readFile(files.file("report.txt")), golden);

    // The command, by default and in each stricter mode.
    const std::string ca = std::getenv("ORVENDEL_TEST_TLS_CA");
    const Strings modes[] = {{},
                             {"--ssl-mode", "required"},
                             {"--ssl-ca", ca},
                             {"--ssl-mode", "verify-identity", "--ssl-ca", ca}};
    for (const Strings& mode : modes) {
        Strings arguments = mode;
        arguments.push_back("--all");
        const test::Outcome run = test::runExport(test::withLogin("tls_types", arguments));
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, golden);
    }
    // Every login was encrypted, and none refused.
    const std::string counts = loginCounts();
    const std::string logins = counts.substr(0, counts.find(' '));
    // The window's test and its session, and one for each command.
    EXPECT_GE(std::stoi(logins), 6) << counts;
    EXPECT_EQ(counts, logins + " " + logins + " 0");
}

TEST_F(LoginWindow, ACertificateThatDoesNotVerifyEndsTheCommandBeforeTheLogin) {
    if (!hasTlsServer())
        GTEST_SKIP() << "needs a server started with ORVENDEL_TEST_TLS=required";
    test::sql("SET GLOBAL userstat=ON");
    const std::string ca = std::getenv("ORVENDEL_TEST_TLS_CA");
    const std::string other = files.file("other-ca.pem");
    const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=Other "
                             "-keyout '" +
                             files.file("other-key.pem") + "' -out '" + other + "' 2>/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0);
    const std::string before = loginCounts();
    const std::string anotherAuthority =
        "TLS/SSL error: self-signed certificate in certificate chain The server's certificate "
        "could not be verified with the CA certificate file " +
        other + ".\n";
    // 127.1 is 127.0.0.1, but not a name the certificate was issued for.
    const std::pair<Strings, std::string> cases[] = {
        {{"--ssl-ca", other}, anotherAuthority},
        {{"--ssl-mode", "verify-identity", "--ssl-ca", other}, anotherAuthority},
        {{"--server", "127.1", "--ssl-mode", "verify-identity", "--ssl-ca", ca},
         "TLS/SSL error: Validation of SSL server certificate failed"}};
    for (const auto& [mode, shown] : cases) {
        Strings arguments = mode;
        arguments.push_back("--list");
        const test::Outcome run = test::runExport(test::withLogin("mysql", arguments));
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find(shown), std::string::npos) << run.err;
    }
    EXPECT_EQ(loginCounts(), before);
}

TEST_F(LoginWindow, TheFailureBoxCarriesTheDriversTextAsDetails) {
    if (std::getenv("ODBCSYSINI")) {
        // Run as encrypted_server_unregistered_driver, with an empty driver list.
        start();
        EXPECT_EQ(failureDetails({"127.0.0.1", "u", "p", "d", "3306"}),
                  "[unixODBC][Driver Manager]Can't open lib 'MySQL ODBC 5.1 Driver' : file not "
                  "found");
        return;
    }
    if (!hasTlsServer())
        GTEST_SKIP() << "needs a server started with ORVENDEL_TEST_TLS=required";
    start();
    db::Login wrong = test::serverLogin("mysql");
    wrong.password += "x";
    EXPECT_EQ(failureDetails(wrong), "[ma-3.1.15]Access denied for user '" + wrong.user +
                                         "'@'127.0.0.1' (using password: YES)");
    EXPECT_EQ(failureDetails(test::serverLogin("tls_nosuchdb")),
              "[ma-3.1.15]Unknown database 'tls_nosuchdb'");
    db::Login port = test::serverLogin("mysql");
    port.port += "0000";
    EXPECT_EQ(failureDetails(port), "The port \"" + port.port +
                                        "\" is not a whole number from 1 to 65535 (an empty "
                                        "port means 3306).");
    // The message box itself keeps its text and shows the details behind its button.
    EXPECT_EQ(dialogs.messages.back().title, "Orvendel");
}
