#include "report/StructureExport.h"

#include "report/ReportFormat.h"

namespace orv::report {

std::string selectAllQuery(std::string_view table) {
    std::string query = "select * from `";
    for (char c : table) {
        query += c;
        if (c == '`')
            query += '`';
    }
    query += '`';
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
    try {
        fields_ = connection_.describe(selectAllQuery(current_));
        return std::nullopt;
    } catch (const Error& e) {
        ++unreadable_;
        return e;
    }
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
