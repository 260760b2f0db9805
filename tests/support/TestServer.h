#pragma once

#include "db/Login.h"

#include <string>

namespace orv::test {

// The throwaway server that scripts/test-server.sh starts for the tests.
db::Login serverLogin(const std::string& database = {});

// The mariadb client command that logs in as the server's root user over its socket.
std::string rootClientCommand();

// Runs SQL as the server's root user through the mariadb client; fails the test on error.
void sql(const std::string& statements);

// The first value the query returns as the server's root user ("" for no row).
std::string queryValue(const std::string& query);

// A fresh, empty database of this name (dropped first when it exists).
void recreateDatabase(const std::string& name);

// A loopback listener that accepts connections and never says a word; closed on destruction.
class SilentListener {
public:
    SilentListener();
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    int port() const noexcept { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

// A loopback port with nothing listening on it.
int closedPort();

} // namespace orv::test
