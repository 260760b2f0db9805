#pragma once

#include "db/Connection.h"
#include "db/Error.h"
#include "db/Login.h"
#include "report/ReportFile.h"
#include "report/TableReader.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orv::report {

// "select * from `name` limit 0", with any back-quote in the name doubled. Its columns describe
// the table; it is only prepared, and even run it would bring no rows.
std::string selectAllQuery(std::string_view table);

// One export of the structure report, in the order its steps run. The table names are copied
// on construction, so the caller's list may change while the export runs. A failing step
// throws orv::Error; once that happens the export is over and no report file is left behind.
class StructureExport {
public:
    StructureExport(db::Login login, std::vector<std::string> tables, std::string path);
    ~StructureExport();

    void createFile();
    void writeHead();
    void connect();

    size_t tableCount() const noexcept { return tables_.size(); }
    const std::string& tableName(size_t index) const { return tables_.at(index); }

    // Reads the columns of one table; a table that cannot be read is written without columns,
    // counted, and its error returned so the caller can report it. A lost connection throws.
    // Tables are read ahead in batches: only a table not read yet waits for the server.
    std::optional<Error> readTable(size_t index);
    bool isReadAhead(size_t index) const;
    // The column rows of the table last read, one call per column, then the block's end.
    void writeTableHead();
    size_t columnCount() const noexcept { return fields_.size(); }
    void writeColumn(size_t column);
    void writeTableEnd();

    void finish();

    size_t unreadableTables() const noexcept { return unreadable_; }

private:
    TableReader& reader();

    db::Login login_;
    std::vector<std::string> tables_;
    std::string path_;
    std::unique_ptr<ReportFile> file_;
    db::Connection connection_;
    std::string current_;
    std::vector<db::Field> fields_;
    std::unique_ptr<TableReader> reader_;
    size_t unreadable_ = 0;
};

// The message that closes an export: "Done." only when every table was read.
std::string closingMessage(size_t unreadable, size_t tables);

} // namespace orv::report
