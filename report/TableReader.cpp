#include "report/TableReader.h"

#include <algorithm>

namespace orv::report {

namespace {
// How far the workers may run ahead of the writer, so memory stays bounded on huge schemas.
constexpr size_t readAhead = 512;
} // namespace

TableReader::TableReader(const db::Login& login, std::vector<std::string> queries,
                         db::Connection& first, size_t workers)
    : queries_(std::move(queries)), results_(queries_.size()) {
    working_ = workers;
    threads_.emplace_back([this, &first] { work(first); });
    for (size_t i = 1; i < workers; ++i)
        threads_.emplace_back([this, login] { workOnNewConnection(login); });
}

TableReader::~TableReader() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_)
        thread.join();
}

void TableReader::workOnNewConnection(db::Login login) {
    db::Connection connection;
    try {
        connection.open(login);
    } catch (const Error&) {
        // A server short of connections leaves the work to the ones that opened.
        std::lock_guard lock(mutex_);
        --working_;
        changed_.notify_all();
        return;
    }
    work(connection);
}

void TableReader::work(db::Connection& connection) {
    for (;;) {
        size_t index = 0;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] {
                return stopping_ || next_ >= queries_.size() || next_ < consumed_ + readAhead;
            });
            if (stopping_ || next_ >= queries_.size())
                break;
            index = next_++;
        }
        Result result;
        try {
            result.columns.fields = connection.describe(queries_[index]);
        } catch (const Error& e) {
            if (db::isConnectionLost(e))
                result.lost = e;
            else
                result.columns.error = e;
        } catch (const std::exception& e) {
            result.columns.error = Error(e.what());
        }
        const bool lost = result.lost.has_value();
        {
            std::lock_guard lock(mutex_);
            results_[index] = std::move(result);
            if (lost)
                --working_;
        }
        changed_.notify_all();
        if (lost)
            return;
    }
    std::lock_guard lock(mutex_);
    --working_;
    changed_.notify_all();
}

bool TableReader::isReady(size_t index) const {
    std::lock_guard lock(mutex_);
    return results_.at(index).has_value();
}

TableColumns TableReader::take(size_t index) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] {
        // With every worker gone, a table nobody took can no longer be read.
        return results_.at(index).has_value() || (working_ == 0 && index >= next_);
    });
    if (!results_[index])
        throw Error("The connection to the server was lost.");
    Result result = std::move(*results_[index]);
    results_[index].reset();
    consumed_ = std::max(consumed_, index + 1);
    lock.unlock();
    changed_.notify_all();
    if (result.lost)
        throw *result.lost;
    return std::move(result.columns);
}

} // namespace orv::report
