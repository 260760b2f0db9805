#include "cli/ServerTools.h"

#include "support/TestServer.h"

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace orv::test {

namespace {

std::string rootClient() {
    const char* socket = std::getenv("ORVENDEL_TEST_SOCKET");
    if (!socket)
        throw std::runtime_error("ORVENDEL_TEST_SOCKET is not set: run the tests through "
                                 "scripts/test.sh");
    return std::string("mariadb --no-defaults -uroot --socket='") + socket +
           "' --default-character-set=utf8mb4";
}

template <class Condition> bool within90Seconds(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace

std::string queryValue(const std::string& sql) {
    std::string quoted;
    for (char c : sql)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    std::string command = rootClient() + " -N -B -e '" + quoted + "'";
    FILE* pipe = ::popen(command.c_str(), "re");
    if (!pipe)
        throw std::runtime_error("cannot run the mariadb client");
    std::string text;
    char buffer[256];
    while (size_t got = std::fread(buffer, 1, sizeof buffer, pipe))
        text.append(buffer, got);
    if (::pclose(pipe) != 0)
        throw std::runtime_error("query failed: " + sql);
    return text.substr(0, text.find_first_of("\t\n"));
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
    const std::string marker = "held " + database + "." + table;
    // Close-on-exec: a command started meanwhile must not keep the sessions, and so the lock,
    // alive.
    reader_ = ::popen(rootClient().c_str(), "we");
    alterer_ = ::popen(rootClient().c_str(), "we");
    if (!reader_ || !alterer_)
        throw std::runtime_error("cannot run the mariadb client");
    std::fputs(
        ("BEGIN; SELECT * FROM " + name + " LIMIT 1; SELECT SLEEP(3600), '" + marker + "';\n")
            .c_str(),
        reader_);
    std::fflush(reader_);
    const bool reading = within90Seconds([&] {
        readerId_ = queryValue("SELECT id FROM information_schema.processlist WHERE info LIKE "
                               "'SELECT SLEEP(3600), %" +
                               marker + "%'");
        return !readerId_.empty();
    });
    std::fputs(("ALTER TABLE " + name + " COMMENT = 'held';\n").c_str(), alterer_);
    std::fflush(alterer_);
    const bool pending =
        reading && within90Seconds([&] {
            return queryValue("SELECT COUNT(*) FROM information_schema.processlist WHERE info LIKE "
                              "'ALTER TABLE%' AND state = 'Waiting for table metadata lock'") !=
                   "0";
        });
    if (!pending)
        throw std::runtime_error("the table lock was not taken");
}

TableLock::~TableLock() {
    try {
        queryValue("KILL " + readerId_);
    } catch (const std::exception&) {
        // The server is gone already, and the lock with it.
    }
    ::pclose(reader_);
    ::pclose(alterer_);
}

bool TableLock::waitForWaiter() const {
    return within90Seconds([this] {
        return queryValue("SELECT COUNT(*) FROM information_schema.processlist WHERE db = '" +
                          database_ + "' AND state = 'Waiting for table metadata lock'") != "0";
    });
}

} // namespace orv::test
