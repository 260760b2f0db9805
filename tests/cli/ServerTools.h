#pragma once

#include <cstdio>
#include <string>

namespace orv::test {

// The first column of the first row of a query run as the server's root user.
std::string queryValue(const std::string& sql);

// Creates this many small tables t1, t2, ... in the database.
void createTables(const std::string& database, int count);

// Makes every session that opens one table wait, even just to prepare a query on it: one
// session of its own reads the table in an open transaction, a second one waits to alter it,
// and the pending change holds back everyone after it. Released on destruction.
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
    FILE* reader_ = nullptr;
    std::string readerId_;
    FILE* alterer_ = nullptr;
};

} // namespace orv::test
