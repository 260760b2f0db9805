#include "report/StructureExport.h"

#include "report/ReportFormat.h"

namespace orv::report {

namespace {
// Enough to make a distant server's round trips negligible, small enough that the window
// stays responsive between batches.
constexpr size_t tablesPerRoundTrip = 100;
} // namespace

std::string selectAllQuery(std::string_view table) {
    std::string query = "select * from `";
    for (char c : table) {
        query += c;
        if (c == '`')
            query += '`';
    }
    query += "` limit 0";
    return query;
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
    connection_.open(db::connectionString(login_));
}

std::optional<Error> StructureExport::readTable(size_t index) {
    current_ = tables_.at(index);
    fields_.clear();
    if (!isReadAhead(index)) {
        std::vector<std::string> queries;
        for (size_t i = index; i < tables_.size() && queries.size() < tablesPerRoundTrip; ++i)
            queries.push_back(selectAllQuery(tables_[i]));
        prefetched_ = connection_.describeEach(queries);
        prefetchStart_ = index;
    }
    db::Description& description = prefetched_[index - prefetchStart_];
    if (description.error) {
        ++unreadable_;
        return description.error;
    }
    fields_ = std::move(description.fields);
    return std::nullopt;
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
