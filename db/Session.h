#pragma once

#include "db/Connection.h"
#include "db/Login.h"

#include <utility>

namespace orv::db {

// The one connection a program works on for one login. Every step uses it; a changed login
// opens a new one; a connection the server has closed (an idle time-out, a restart, a KILL) is
// opened again, once per step and without a word, before the step fails.
class Session {
public:
    // Nothing is opened before the first step that needs the connection.
    explicit Session(Login login = {}, Timeouts timeouts = {});
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Makes sure a connection for this login is open: the one already open for the same login
    // when it still answers, else a new one. Throws when it cannot be opened.
    void open(const Login& login);
    // The same without a word: true when a connection for the login is open afterwards.
    bool test(const Login& login) noexcept;

    const Login& login() const noexcept { return login_; }

    // Opens the connection for the session's login when none is open.
    void connect();

    // The open connection; using it while none is open fails with ADO's text.
    Connection& connection();

    // Counts the connections opened: work that keeps state of its own on the connection sees
    // when that state went with the connection it was made on.
    unsigned generation() const noexcept { return generation_; }

    // Runs work(connection). When it fails because the server closed the connection, the
    // connection is opened again and the work runs once more; when that opening fails, its
    // error is thrown.
    template <class Work> auto use(Work&& work) {
        Connection& current = connection();
        try {
            return work(current);
        } catch (const Error& e) {
            if (!closedByServer(e))
                throw;
        }
        reopen();
        return std::forward<Work>(work)(current);
    }

private:
    bool closedByServer(const Error& error);
    bool answers();
    void reopen();

    Login login_;
    Connection connection_;
    unsigned generation_ = 0;
    // Opened and not used since: it answered just now, so it is not asked again.
    bool fresh_ = false;
};

} // namespace orv::db
