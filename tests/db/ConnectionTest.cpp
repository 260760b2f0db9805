#include "db/Connection.h"
#include "db/Catalogue.h"
#include "db/Error.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>

using namespace orv;
using orv::db::Connection;
using orv::db::Login;

namespace {

// Opens a connection for the login and returns the error it fails with.
Error openError(const Login& login, db::Timeouts timeouts = {}) {
    Connection connection(timeouts);
    try {
        connection.open(login);
    } catch (const Error& e) {
        EXPECT_FALSE(connection.isOpen());
        return e;
    }
    ADD_FAILURE() << "the connection opened";
    return Error("");
}

} // namespace

TEST(Connection, OpensAndClosesWithTheRightLogin) {
    Login login = test::serverLogin("mysql");
    EXPECT_TRUE(db::TestMySQLConnection(login));
    Connection connection;
    connection.open(login);
    EXPECT_TRUE(connection.isOpen());
    connection.close();
    EXPECT_FALSE(connection.isOpen());
    // Closing twice, or using a closed connection, fails the way ADO does.
    EXPECT_THROW(connection.close(), Error);
    try {
        connection.firstColumn("SELECT 1");
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Operation is not allowed when the object is closed.");
    }
}

TEST(Connection, RefusedLoginsCarryTheDriversText) {
    Login wrong = test::serverLogin("mysql");
    wrong.password += "x";
    EXPECT_FALSE(db::TestMySQLConnection(wrong));
    Error e = openError(wrong);
    EXPECT_EQ(e.sqlState(), "28000");
    EXPECT_EQ(e.nativeCode(), 1045);
    EXPECT_NE(std::string(e.what()).find("Access denied for user 'orvendel'"), std::string::npos)
        << e.what();

    Login unknown = test::serverLogin("nosuchdb");
    EXPECT_FALSE(db::TestMySQLConnection(unknown));
    e = openError(unknown);
    EXPECT_EQ(e.nativeCode(), 1049);
    EXPECT_NE(std::string(e.what()).find("Unknown database 'nosuchdb'"), std::string::npos);

    Login nobody = test::serverLogin("mysql");
    nobody.port = std::to_string(test::closedPort());
    EXPECT_FALSE(db::TestMySQLConnection(nobody));
    e = openError(nobody);
    EXPECT_EQ(e.nativeCode(), 2002);
    EXPECT_NE(std::string(e.what()).find("Can't connect to server on '127.0.0.1'"),
              std::string::npos);

    EXPECT_FALSE(db::TestMySQLConnection(Login{}));
}

TEST(Connection, PasswordWithSemicolonAndBraceLogsIn) {
    const std::string password = "se;mi}co{lon";
    test::sql("DROP USER IF EXISTS 'braces'@'localhost', 'braces'@'127.0.0.1';"
              "CREATE USER 'braces'@'localhost' IDENTIFIED BY '" +
              password +
              "';"
              "CREATE USER 'braces'@'127.0.0.1' IDENTIFIED BY '" +
              password + "';");
    Login login = test::serverLogin();
    login.user = "braces";
    login.password = password;
    EXPECT_TRUE(db::TestMySQLConnection(login));
    login.password = "se";
    EXPECT_FALSE(db::TestMySQLConnection(login));
}

TEST(Connection, LoginValuesTheDriverWouldChangeAreRefusedBeforeAnythingIsSent) {
    const Login good = test::serverLogin("mysql");
    // The driver wraps a port above 65535 and reads only the digits in front.
    for (const std::string& typed : {std::to_string(std::stoi(good.port) + 65536),
                                     good.port + "abc", " " + good.port + " ", std::string("0")}) {
        Login login = good;
        login.port = typed;
        EXPECT_FALSE(db::TestMySQLConnection(login)) << typed;
        EXPECT_EQ(std::string(openError(login).what()),
                  "The port \"" + typed +
                      "\" is not a whole number from 1 to 65535 (an empty port means 3306).");
    }
    // A NUL would end the connection string there, dropping the port and time-outs after it.
    using Member = std::string Login::*;
    const std::pair<Member, const char*> values[] = {
        {&Login::server, "server name"}, {&Login::user, "user name"},
        {&Login::password, "password"},  {&Login::database, "database name"},
        {&Login::port, "port"},          {&Login::tlsCaFile, "CA certificate file name"}};
    for (const auto& [member, name] : values) {
        Login login = good;
        login.*member += std::string("\0x", 2);
        EXPECT_EQ(std::string(openError(login).what()),
                  std::string("The ") + name +
                      " contains a NUL character, which cannot be sent to the server: nothing "
                      "was sent.");
    }
}

TEST(Connection, BlanksAroundADatabaseNameOrPasswordAreKeptOrExplained) {
    // The driver drops the blanks: the database is selected again as typed.
    test::sql("DROP DATABASE IF EXISTS ` blanks`; CREATE DATABASE ` blanks`;"
              "CREATE TABLE ` blanks`.spaced (a int);"
              "DROP DATABASE IF EXISTS blanks; CREATE DATABASE blanks;"
              "CREATE TABLE blanks.trimmed (a int);");
    EXPECT_EQ(db::listTables(test::serverLogin(" blanks")), std::vector<std::string>{"spaced"});
    test::sql("DROP DATABASE ` blanks`");
    Error e = openError(test::serverLogin(" blanks"));
    EXPECT_EQ(e.nativeCode(), 1049);
    EXPECT_NE(std::string(e.what()).find("Unknown database ' blanks'"), std::string::npos)
        << e.what();

    // A password the driver cannot send as typed: the refusal says why.
    test::sql("DROP USER IF EXISTS 'blanks'@'localhost', 'blanks'@'127.0.0.1';"
              "CREATE USER 'blanks'@'localhost' IDENTIFIED BY ' pw ';"
              "CREATE USER 'blanks'@'127.0.0.1' IDENTIFIED BY ' pw ';");
    Login login = test::serverLogin();
    login.user = "blanks";
    login.password = " pw ";
    e = openError(login);
    EXPECT_EQ(e.nativeCode(), 1045);
    EXPECT_NE(std::string(e.what()).find(" (using password: YES) The password begins or ends with "
                                         "a blank, which the ODBC driver drops"),
              std::string::npos)
        << e.what();
}

TEST(Connection, GivesUpOnASilentServerAfterFifteenSeconds) {
    test::SilentListener silent;
    Login login = test::serverLogin("mysql");
    login.port = std::to_string(silent.port());
    auto start = std::chrono::steady_clock::now();
    Error e = openError(login);
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(e.sqlState(), "08S01") << e.what();
    // The default connect time-out bounds the wait: not sooner, and not forever.
    EXPECT_GE(seconds, 14.0);
    EXPECT_LT(seconds, 40.0);
}

TEST(Connection, CommandTimeOutEndsALongQuery) {
    Connection connection({15, 1});
    connection.open(test::serverLogin("mysql"));
    auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(connection.firstColumn("SELECT SLEEP(20)"), Error);
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 15.0);
}

// The driver keeps a message in 512 bytes with its prefixes, and drops one that does not fit.
TEST(Connection, AServerErrorKeepsItsTextHoweverLong) {
    Connection connection;
    connection.open(test::serverLogin("mysql"));
    for (const std::string& unit : {std::string("x"), std::string("日")}) {
        std::string message;
        for (int i = 0; i < 500; ++i)
            message += unit;
        try {
            connection.execute("SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = '" + message + "'");
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            const std::string text = e.what();
            EXPECT_EQ(text.rfind("[ma-", 0), 0u) << text;
            EXPECT_GE(text.size(), message.size());
            EXPECT_EQ(text.substr(text.size() - message.size()), message) << text;
            EXPECT_EQ(e.nativeCode(), 1644);
        }
    }
    // The connection goes on as before.
    EXPECT_EQ(connection.firstColumn("SELECT 1"), std::vector<std::string>{"1"});
}

TEST(UnregisteredDriver, EveryOpenFails) {
    if (!std::getenv("ODBCSYSINI"))
        GTEST_SKIP() << "runs as db_unregistered_driver, with an empty driver list";
    Login login = test::serverLogin("mysql");
    EXPECT_FALSE(db::TestMySQLConnection(login));
    Error e = openError(login);
    EXPECT_NE(std::string(e.what()).find("MySQL ODBC 5.1 Driver"), std::string::npos) << e.what();
}

TEST(Catalogue, SysFilterLooksAtTheFirstThreeLettersOnly) {
    for (const char* hidden : {"sys", "system_log", "SysConfig", "SYS_x", "sYs"})
        EXPECT_FALSE(db::isListedTable(hidden)) << hidden;
    for (const char* listed : {"sy", "s", "", "mysys", "a_sys", " sys", "syx", "customers"})
        EXPECT_TRUE(db::isListedTable(listed)) << listed;
}

TEST(Catalogue, ListsTablesInServerOrderWithoutSysTables) {
    test::recreateDatabase("catalogue");
    test::sql("USE catalogue; CREATE TABLE SysConfig (a int); CREATE TABLE customers (a int);"
              "CREATE TABLE `my table` (a int); CREATE TABLE sys_x (a int); CREATE TABLE mysys (a "
              "int);");
    std::vector<std::string> names = db::listTables(test::serverLogin("catalogue"));
    EXPECT_EQ(names, (std::vector<std::string>{"customers", "my table", "mysys"}));
}
