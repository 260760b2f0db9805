#pragma once

#include "db/Catalogue.h"
#include "db/Connection.h"
#include "db/Error.h"
#include "db/Login.h"

#include <functional>
#include <string>
#include <vector>

namespace orv::report {

// The steps of an export, in the order they run; the column steps repeat per table.
enum class ExportStep {
    createFile,
    writeHead,
    connect,
    readTable,
    writeTableHead,
    writeColumn,
    writeTableEnd,
    finish,
};

// What an export tells its front end, and asks it, as it goes. Each front end decides where
// the work runs, how a failure is shown and when to stop.
class ExportStatus {
public:
    virtual ~ExportStatus() = default;
    // Runs one step's work, which throws orv::Error when it fails. `waits` is true for work that
    // may wait for the server or the file system. Returns false to end the export there.
    virtual bool step(ExportStep step, const std::string& table, bool waits,
                      const std::function<void()>& work) = 0;
    // A table whose columns could not be read; it is written without columns.
    virtual void unreadable(const std::string& table, const Error& error) = 0;
    // Asked before each table and each column: false abandons the export.
    virtual bool goOn() = 0;
};

// One export of the structure report. The table names are copied on construction, so the
// caller's list may change while the export runs. An export that ends before its last step
// leaves no report file behind.
class StructureExport {
public:
    // With `connection` (already open) the export reads through it; otherwise it opens and
    // closes its own. `kinds` are the tables' kinds from the table list, in their order; without
    // them the export reads the list again.
    StructureExport(db::Login login, std::vector<std::string> tables, std::string path,
                    db::Connection* connection = nullptr, std::vector<db::TableKind> kinds = {});

    // Runs every step; true when the report was written.
    bool run(ExportStatus& status);

    size_t tableCount() const noexcept { return tables_.size(); }
    size_t unreadableTables() const noexcept { return unreadable_; }

private:
    db::Login login_;
    std::vector<std::string> tables_;
    std::vector<db::TableKind> kinds_;
    std::string path_;
    db::Connection* connection_;
    size_t unreadable_ = 0;
};

// The message that closes an export: "Done." only when every table was read.
std::string closingMessage(size_t unreadable, size_t tables);

} // namespace orv::report
