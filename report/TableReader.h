#pragma once

#include "db/Connection.h"
#include "db/Error.h"
#include "db/Login.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace orv::report {

// The columns of one table, or why they could not be read.
struct TableColumns {
    std::vector<db::Field> fields;
    std::optional<Error> error;
};

// Reads the columns of many tables ahead of the writer, on a few connections side by side:
// each table costs one round trip, so a distant server would otherwise make a long list slow.
// Results are handed out in table order, whichever connection read them.
class TableReader {
public:
    // `first` is already open; the reader opens up to workers - 1 more with the same login.
    TableReader(const db::Login& login, std::vector<std::string> queries, db::Connection& first,
                size_t workers);
    ~TableReader();
    TableReader(const TableReader&) = delete;
    TableReader& operator=(const TableReader&) = delete;

    // Waits for the columns of table `index`. Throws when the connection was lost.
    TableColumns take(size_t index);
    bool isReady(size_t index) const;

private:
    struct Result {
        TableColumns columns;
        std::optional<Error> lost;
    };
    void work(db::Connection& connection);
    void workOnNewConnection(db::Login login);

    std::vector<std::string> queries_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::optional<Result>> results_;
    size_t next_ = 0;     // the next table a worker takes
    size_t consumed_ = 0; // tables handed out so far
    size_t working_ = 0;  // workers still reading
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace orv::report
