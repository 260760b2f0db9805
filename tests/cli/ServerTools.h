#pragma once

#include <cstdio>
#include <string>

namespace orv::test {

// The first column of the first row of a query run as the server's root user.
std::string queryValue(const std::string& sql);

// Creates this many small tables t1, t2, ... in the database.
void createTables(const std::string& database, int count);

// Holds a write lock on one table from a session of its own, so that any other session reading
// the table waits; released on destruction.
class TableLock {
public:
    TableLock(const std::string& database, const std::string& table);
    ~TableLock();
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;

    // Waits until a session of another client waits for the lock; false after 90 s.
    bool waitForWaiter() const;

private:
    std::string database_;
    FILE* session_ = nullptr;
};

} // namespace orv::test
