#include "cli/ServerTools.h"

#include "support/TestServer.h"

#include <chrono>
#include <stdexcept>
#include <thread>

namespace orv::test {

namespace {

std::string rootClient() {
    return rootClientCommand() + " -N -B";
}

// Whether a session of the server's process list meets the condition, checked for up to 90 s.
bool sessionWithin90Seconds(const std::string& condition) {
    const std::string command = rootClient() +
                                " -e \"SELECT COUNT(*) FROM "
                                "information_schema.processlist WHERE " +
                                condition + "\"";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (std::chrono::steady_clock::now() < deadline) {
        FILE* pipe = ::popen(command.c_str(), "re");
        if (!pipe)
            throw std::runtime_error("cannot run the mariadb client");
        char count[32] = {};
        const bool found = std::fgets(count, sizeof count, pipe) && count[0] != '0';
        if (::pclose(pipe) != 0)
            throw std::runtime_error("query failed: " + condition);
        if (found)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void send(FILE* client, const std::string& statements) {
    std::fputs(statements.c_str(), client);
    std::fflush(client);
}

} // namespace

Launch withLogin(const std::string& database, const std::vector<std::string>& arguments) {
    const db::Login login = serverLogin(database);
    Launch launch{{"--server", login.server, "--port", login.port, "--user", login.user,
                   "--database", database, "--password-stdin"},
                  login.password + "\n"};
    launch.arguments.insert(launch.arguments.end(), arguments.begin(), arguments.end());
    return launch;
}

void createTables(const std::string& database, int count) {
    std::string statements = "USE `" + database + "`;\n";
    for (int i = 1; i <= count; ++i)
        statements += "CREATE TABLE t" + std::to_string(i) +
                      " (id int, name varchar(20), price decimal(8,2)) ENGINE=Aria;\n";
    sql(statements);
}

TableLock::TableLock(const std::string& database, const std::string& table) : database_(database) {
    const std::string name = "`" + database + "`.`" + table + "`";
    // Close-on-exec: a command started meanwhile must not keep the sessions, and so the lock,
    // alive. Each session lasts until its input ends.
    reader_ = ::popen(rootClient().c_str(), "we");
    alterer_ = ::popen(rootClient().c_str(), "we");
    if (!reader_ || !alterer_)
        throw std::runtime_error("cannot run the mariadb client");
    // The reader only enters the database once it holds the table.
    send(reader_, "BEGIN; SELECT * FROM " + name + " LIMIT 1; USE `" + database + "`;\n");
    const bool reading = sessionWithin90Seconds("db = '" + database + "'");
    send(alterer_, "ALTER TABLE " + name + " COMMENT = 'held';\n");
    if (!reading || !sessionWithin90Seconds("info LIKE 'ALTER TABLE%' AND state = 'Waiting for "
                                            "table metadata lock'"))
        throw std::runtime_error("the table lock was not taken");
}

TableLock::~TableLock() {
    ::pclose(reader_);
    ::pclose(alterer_);
}

bool TableLock::waitForWaiter() const {
    return sessionWithin90Seconds("db = '" + database_ +
                                  "' AND state = 'Waiting for table metadata lock'");
}

} // namespace orv::test
