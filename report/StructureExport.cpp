#include "report/StructureExport.h"

#include "db/Catalogue.h"
#include "report/ReportFormat.h"

#include <algorithm>

namespace orv::report {

namespace {
// Each table is one round trip: a long list is read on several connections at once, a short
// one on the export's own.
constexpr size_t tablesPerConnection = 32;
constexpr size_t maxConnections = 16;
} // namespace

std::string selectAllQuery(std::string_view table) {
    return "select * from " + db::quotedName(table) + " limit 0";
}

StructureExport::StructureExport(db::Login login, std::vector<std::string> tables, std::string path)
    : login_(std::move(login)), tables_(std::move(tables)), path_(std::move(path)) {}

StructureExport::~StructureExport() = default;

void StructureExport::createFile() {
    file_ = std::make_unique<ReportFile>(path_);
}

void StructureExport::writeHead() {
    file_->write(reportHead(login_.server, tables_));
}

void StructureExport::connect() {
    connection_.open(login_);
}

std::optional<Error> StructureExport::readTable(size_t index) {
    current_ = tables_.at(index);
    fields_.clear();
    TableColumns columns = reader().take(index);
    if (columns.error) {
        ++unreadable_;
        return columns.error;
    }
    fields_ = std::move(columns.fields);
    return std::nullopt;
}

bool StructureExport::isReadAhead(size_t index) const {
    return reader_ && reader_->isReady(index);
}

TableReader& StructureExport::reader() {
    if (!reader_) {
        std::vector<std::string> queries;
        queries.reserve(tables_.size());
        for (const std::string& table : tables_)
            queries.push_back(selectAllQuery(table));
        const size_t workers =
            std::clamp<size_t>(tables_.size() / tablesPerConnection, 1, maxConnections);
        reader_ = std::make_unique<TableReader>(login_, std::move(queries), connection_, workers);
    }
    return *reader_;
}

void StructureExport::writeTableHead() {
    file_->write(tableHeading(current_, fields_.size()));
}

void StructureExport::writeColumn(size_t column) {
    file_->write(fieldRow(fields_.at(column)) + "\r\n");
}

void StructureExport::writeTableEnd() {
    file_->write(tableEnd());
}

void StructureExport::finish() {
    reader_.reset();
    file_->write(reportTail());
    file_->commit();
    if (connection_.isOpen())
        connection_.close();
}

std::string closingMessage(size_t unreadable, size_t tables) {
    if (unreadable == 0)
        return "Done.";
    return "Done, but " + std::to_string(unreadable) + " of " + std::to_string(tables) +
           " tables could not be read.";
}

} // namespace orv::report
