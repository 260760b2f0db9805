#include "report/StructureExport.h"

#include "db/TableColumns.h"
#include "report/ReportFile.h"
#include "report/ReportFormat.h"

#include <memory>

namespace orv::report {

StructureExport::StructureExport(db::Login login, std::vector<std::string> tables, std::string path,
                                 db::Connection* connection, std::vector<db::TableKind> kinds)
    : login_(std::move(login)), tables_(std::move(tables)), kinds_(std::move(kinds)),
      path_(std::move(path)), connection_(connection) {}

bool StructureExport::run(ExportStatus& status) {
    unreadable_ = 0;
    const std::string none;
    std::unique_ptr<ReportFile> file;
    if (!status.step(ExportStep::createFile, none, true,
                     [&] { file = std::make_unique<ReportFile>(path_); }) ||
        !status.step(ExportStep::writeHead, none, false,
                     [&] { file->write(reportHead(login_.server, tables_)); }))
        return false;

    db::Connection own;
    db::Connection& connection = connection_ ? *connection_ : own;
    if (!status.step(ExportStep::connect, none, true, [&] {
            if (!connection.isOpen())
                connection.open(login_);
        }))
        return false;

    db::ColumnReader reader(connection, tables_, kinds_);
    for (size_t i = 0; i < tables_.size(); ++i) {
        const std::string& table = tables_[i];
        db::TableColumns columns;
        if (!status.goOn() || !status.step(ExportStep::readTable, table, !reader.isReady(i),
                                           [&] { columns = reader.take(i); }))
            return false;
        if (columns.error) {
            ++unreadable_;
            status.unreadable(table, *columns.error);
        }
        if (!status.step(ExportStep::writeTableHead, table, false,
                         [&] { file->write(tableHeading(table, columns.fields.size())); }))
            return false;
        for (const db::Field& field : columns.fields)
            if (!status.goOn() || !status.step(ExportStep::writeColumn, table, false,
                                               [&] { file->write(fieldRow(field) + "\r\n"); }))
                return false;
        if (!status.step(ExportStep::writeTableEnd, table, false, [&] { file->write(tableEnd()); }))
            return false;
    }
    return status.step(ExportStep::finish, none, true, [&] {
        file->write(reportTail());
        file->commit();
        if (&connection == &own)
            own.close();
    });
}

std::string closingMessage(size_t unreadable, size_t tables) {
    if (unreadable == 0)
        return "Done.";
    return "Done, but " + std::to_string(unreadable) + " of " + std::to_string(tables) +
           " tables could not be read.";
}

} // namespace orv::report
