#pragma once

#include "cli/Process.h"

#include <cstdio>
#include <string>
#include <vector>

namespace orv::test {

// The test server's login on the command line and its password on standard input, then these
// arguments.
Launch withLogin(const std::string& database, const std::vector<std::string>& arguments);

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
    FILE* alterer_ = nullptr;
};

} // namespace orv::test
