// What reaches a server while a connection opens, proved against fake servers that keep every
// byte they receive.

#include "db/Connection.h"
#include "db/Deadline.h"
#include "db/Error.h"
#include "support/FakeServer.h"
#include "support/Files.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace orv;
using db::TlsMode;
using test::FakeServer;
using test::Greeting;

namespace {

constexpr const char* user = "guarded-user";
constexpr const char* password = "guarded-password";

class Opening : public ::testing::Test {
protected:
    void SetUp() override {
        test::writeFile(caFile, FakeServer::certificatePem());
        test::writeFile(otherCaFile, FakeServer::otherCertificatePem());
    }

    // Work given up at a deadline ends once its fake server is gone; what is left of it would
    // read as a leak to the sanitizer at the end of the process.
    void TearDown() override { EXPECT_EQ(db::waitForAbandonedWork(std::chrono::seconds(10)), 0u); }

    db::Login login(const FakeServer& server, TlsMode mode) const {
        db::Login login{"127.0.0.1", user, password, "d", std::to_string(server.port())};
        login.tlsMode = mode;
        if (mode == TlsMode::verifyCa || mode == TlsMode::verifyIdentity)
            login.tlsCaFile = caFile;
        return login;
    }

    // The error opening fails with, or "" when it opened.
    static std::string failure(const db::Login& login, db::Timeouts timeouts = {}) {
        db::Connection connection(timeouts);
        try {
            connection.open(login);
        } catch (const Error& e) {
            return e.what();
        }
        return "";
    }

    test::TempDir files;
    const std::string caFile = files.file("ca.pem");
    const std::string otherCaFile = files.file("other-ca.pem");
};

const char* modeName(TlsMode mode) {
    switch (mode) {
    case TlsMode::preferred:
        return "preferred";
    case TlsMode::required:
        return "required";
    case TlsMode::verifyCa:
        return "verify-ca";
    case TlsMode::verifyIdentity:
        return "verify-identity";
    }
    return "?";
}

constexpr TlsMode strictModes[] = {TlsMode::required, TlsMode::verifyCa, TlsMode::verifyIdentity};
constexpr TlsMode everyMode[] = {TlsMode::preferred, TlsMode::required, TlsMode::verifyCa,
                                 TlsMode::verifyIdentity};

} // namespace

TEST_F(Opening, NothingOfTheLoginReachesAServerWithoutTlsWhenEncryptionIsRequired) {
    const std::string notOffered = "does not offer encrypted connections (TLS)";
    struct Case {
        const char* name;
        Greeting greeting;
        std::string server;
        std::string shown; // for required and verify-ca; in verify-identity the driver refuses
    };
    const Case cases[] = {
        // The check used to look the name up as typed, fail, and let the driver, which drops
        // the blank, log in unencrypted.
        {"a blank after the server name", Greeting::plain, "127.0.0.1 ", notOffered},
        {"blanks around the server name", Greeting::plain, "\t127.0.0.1 ", notOffered},
        {"a version longer than 490 bytes", Greeting::longVersion, "127.0.0.1", notOffered},
        {"no end to the version", Greeting::unendedVersion, "127.0.0.1",
         "cannot be read (its server version has no end), and an encrypted connection was "
         "required: nothing was sent to it."},
        // The check and the login are two connections.
        {"TLS offered to the check only", Greeting::tlsToFirstOnly, "127.0.0.1",
         "SSL is required, but the server does not support it"},
        // Whoever can redirect the login, can redirect it to a TLS server of his own.
        {"another certificate shown to the login", Greeting::otherCertificateAfterFirst,
         "127.0.0.1",
         "Fingerprint verification of server certificate failed The login met another "
         "certificate than the check of the server just before it"}};
    for (const Case& c : cases)
        for (TlsMode mode : strictModes) {
            SCOPED_TRACE(std::string(c.name) + ", " + modeName(mode));
            const FakeServer server({c.greeting});
            db::Login guarded = login(server, mode);
            guarded.server = c.server;
            const std::string shown = failure(guarded);
            EXPECT_NE(shown, "");
            if (mode != TlsMode::verifyIdentity) {
                EXPECT_NE(shown.find(c.shown), std::string::npos) << shown;
            }
            // Only the first connection, with the right certificate, may have received a
            // login, encrypted (verify-identity makes no check before the login).
            const std::vector<std::string> received = server.received();
            ASSERT_FALSE(received.empty());
            const bool firstMayLogIn = c.greeting == Greeting::tlsToFirstOnly ||
                                       c.greeting == Greeting::otherCertificateAfterFirst;
            // The others received nothing, or with TLS offered, the request for it (32 bytes
            // and a packet header).
            for (size_t i = firstMayLogIn ? 1 : 0; i < received.size(); ++i)
                EXPECT_LE(received[i].size(),
                          c.greeting == Greeting::otherCertificateAfterFirst ? 36u : 0u)
                    << i << ": " << test::escapedBytes(received[i]);
        }
}

TEST_F(Opening, APasswordAsTypedIsSentOnlyOverAnEncryptedConnectionInEveryMode) {
    for (const char* method : {"mysql_clear_password", "dialog"}) {
        for (TlsMode mode : everyMode) {
            SCOPED_TRACE(std::string(method) + ", " + modeName(mode));
            const FakeServer server({Greeting::plain, method});
            const std::string shown = failure(login(server, mode));
            EXPECT_FALSE(server.received(password)) << shown;
            if (mode == TlsMode::preferred) {
                EXPECT_NE(shown.find(std::string("The server asked for the password as typed (") +
                                     method +
                                     "), which is sent only over an encrypted "
                                     "connection"),
                          std::string::npos)
                    << shown;
            }
        }
        // Encrypted, it is sent as the server asks.
        SCOPED_TRACE(method);
        const FakeServer server({Greeting::tls, method});
        EXPECT_NE(failure(login(server, TlsMode::preferred)).find("Access denied for user (fake"),
                  std::string::npos);
        EXPECT_TRUE(server.received(password));
    }
}

// The driver's own time-outs start again with every byte; the program's deadline does not. The
// time-outs are shortened here: connect 4 s, deadline 5 s.
TEST_F(Opening, EndsAtItsDeadlineWhenTheGreetingIsTrickledOrStalls) {
    const db::Timeouts timeouts{4, 4, 5};
    struct Case {
        Greeting greeting;
        std::chrono::milliseconds pace;
        TlsMode mode; // required: the check reads the greeting; preferred: the driver
    };
    const Case cases[] = {
        {Greeting::trickled, std::chrono::milliseconds(1000), TlsMode::preferred},
        {Greeting::trickled, std::chrono::milliseconds(1000), TlsMode::required},
        // Each pause just under the driver's time-out: together they used to pass it.
        {Greeting::twoStalls, std::chrono::milliseconds(3900), TlsMode::preferred}};
    for (const Case& c : cases) {
        SCOPED_TRACE(modeName(c.mode));
        const FakeServer server({c.greeting, {}, c.pace});
        const auto start = std::chrono::steady_clock::now();
        const std::string shown = failure(login(server, c.mode), timeouts);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(shown, "The server 127.0.0.1 did not complete the connection within 5 seconds: "
                         "it was given up.");
        EXPECT_GE(took.count(), 4.5);
        EXPECT_LT(took.count(), 7.0) << "the deadline is 5 s";
    }
}

TEST_F(Opening, EndsAtItsDeadlineWhenTheTlsHandshakeNeverEnds) {
    const db::Timeouts timeouts{4, 4, 5};
    // preferred: the driver's handshake; required: the check's.
    for (TlsMode mode : {TlsMode::preferred, TlsMode::required}) {
        SCOPED_TRACE(modeName(mode));
        const FakeServer server({Greeting::endlessTlsHandshake});
        const auto start = std::chrono::steady_clock::now();
        EXPECT_NE(failure(login(server, mode), timeouts).find("did not complete the connection"),
                  std::string::npos);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took.count(), 7.0) << "the deadline is 5 s";
        EXPECT_FALSE(server.received(user));
    }
}

TEST_F(Opening, TheCertificateHintAppearsOnlyWhenACertificateWasRefused) {
    const std::string hint = "could not be verified with the CA certificate file";
    {
        // Another authority: refused by the check (verify-ca) and by the driver.
        const FakeServer server({Greeting::tls});
        for (TlsMode mode : {TlsMode::verifyCa, TlsMode::verifyIdentity}) {
            db::Login other = login(server, mode);
            other.tlsCaFile = otherCaFile;
            const std::string shown = failure(other);
            EXPECT_NE(shown.find("TLS/SSL error: self-signed certificate The server's certificate "
                                 "could not be verified with the CA certificate file " +
                                 otherCaFile + "."),
                      std::string::npos)
                << modeName(mode) << ": " << shown;
        }
        EXPECT_FALSE(server.received(user));
    }
    // No TLS at all: no certificate was refused.
    const FakeServer plain({Greeting::plain});
    for (TlsMode mode : {TlsMode::verifyCa, TlsMode::verifyIdentity}) {
        const std::string shown = failure(login(plain, mode));
        EXPECT_EQ(shown.find(hint), std::string::npos) << modeName(mode) << ": " << shown;
    }
}

TEST(ServerName, BlanksAtItsEndsAreDroppedByTheCheckAndTheDriverAlike) {
    db::Login login = test::serverLogin("mysql");
    login.server = " \t" + login.server + " ";
    EXPECT_TRUE(db::TestMySQLConnection(login));
    // The check met the same server as the driver: the test server offers no TLS.
    login.tlsMode = TlsMode::required;
    db::Connection connection;
    try {
        connection.open(login);
        ADD_FAILURE() << "opened without TLS";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "The server " + test::serverLogin().server +
                                             " does not offer encrypted connections (TLS), and "
                                             "an encrypted connection was required: nothing was "
                                             "sent to it.");
    }
}
