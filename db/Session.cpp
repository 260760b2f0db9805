#include "db/Session.h"

namespace orv::db {

Session::Session(Login login, Timeouts timeouts)
    : login_(std::move(login)), connection_(timeouts) {}

void Session::open(const Login& login) {
    // Asking the kept connection costs one round trip; a login costs about seven.
    if (connection_.isOpen() && login == login_ && (std::exchange(fresh_, false) || answers()))
        return;
    login_ = login;
    reopen();
    fresh_ = true;
}

bool Session::test(const Login& login) noexcept {
    try {
        open(login);
        return true;
    } catch (...) {
        return false;
    }
}

void Session::connect() {
    if (connection_.isOpen())
        return;
    reopen();
    fresh_ = true;
}

Connection& Session::connection() {
    if (!connection_.isOpen())
        throw Error(closedObjectText);
    fresh_ = false;
    return connection_;
}

bool Session::closedByServer(const Error& error) {
    if (isConnectionLost(error))
        return true;
    // Not every loss says so: the first statement after the server's idle time-out fails with
    // "Write error: Connection reset by peer" (HY000, 5014; Connector/ODBC 3.1.15, MariaDB
    // 10.11), MySQL 8 says "disconnected by the server because of inactivity" (HY000, 4031).
    // A connection that no longer answers was closed, whatever the failure said.
    return !answers();
}

bool Session::answers() {
    // One round trip. "DO 1" would spare the result, but Connector/ODBC 3.1.15 refuses it itself
    // (42000, "Syntax error or access violation", native code 0).
    try {
        connection_.firstColumn("SELECT 1");
        return true;
    } catch (const Error&) {
        return false;
    }
}

void Session::reopen() {
    fresh_ = false;
    if (connection_.isOpen())
        connection_.close();
    connection_.open(login_);
    ++generation_;
}

} // namespace orv::db
