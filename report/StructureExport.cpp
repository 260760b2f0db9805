#include "report/StructureExport.h"

#include "db/TableColumns.h"
#include "report/ReportFile.h"

#include <optional>

namespace orv::report {

namespace {

// The columns of the exported tables on the session's connection. The reader keeps what it has
// learnt on the connection it was made on; once the session has opened a new connection, the
// tables left are read afresh on that one.
class SessionColumns {
public:
    SessionColumns(db::Session& session, const std::vector<std::string>& tables)
        : session_(session), tables_(tables) {}

    bool isReady(size_t index) const noexcept {
        return reader_ && generation_ == session_.generation() && reader_->isReady(index - first_);
    }

    db::TableColumns take(size_t index) {
        return session_.use([&](db::Connection& connection) {
            if (!reader_ || generation_ != session_.generation()) {
                const auto from = tables_.begin() + static_cast<std::ptrdiff_t>(index);
                reader_.emplace(connection, std::vector<std::string>(from, tables_.end()));
                first_ = index;
                generation_ = session_.generation();
            }
            return reader_->take(index - first_);
        });
    }

private:
    db::Session& session_;
    const std::vector<std::string>& tables_;
    std::optional<db::ColumnReader> reader_;
    size_t first_ = 0;
    unsigned generation_ = 0;
};

} // namespace

void ExportStatus::started(const std::vector<std::string>&) {}
bool ExportStatus::tableRead(size_t) {
    return true;
}
bool ExportStatus::tableUnreadable(size_t, const Error&) {
    return true;
}
void ExportStatus::finished(size_t) {}

StructureExport::StructureExport(db::Session& session, std::vector<std::string> tables,
                                 std::string path, std::unique_ptr<ReportFormat> format)
    : session_(session), tables_(std::move(tables)), path_(std::move(path)),
      format_(std::move(format)) {}

std::string StructureExport::table() const {
    const bool ofTable = step_ == ExportStep::readTable || step_ == ExportStep::writeTable;
    return ofTable && table_ < tables_.size() ? tables_[table_] : std::string();
}

template <class Work> bool StructureExport::runStep(ExportStep step, bool waits, Work&& work) {
    step_ = step;
    if (waits)
        return status_->wait(work);
    work();
    return true;
}

bool StructureExport::run(ExportStatus& status) {
    status_ = &status;
    unreadable_ = 0;
    std::unique_ptr<ReportFile> file;
    const db::Login& login = session_.login();
    if (!runStep(ExportStep::createFile, true,
                 [&] { file = std::make_unique<ReportFile>(path_, overwrite_); }))
        return false;
    runStep(ExportStep::writeHead, false, [&] {
        file->write(format_->head({login.server, login.database, tables_}));
    });
    if (!runStep(ExportStep::connect, true, [&] { session_.connect(); }))
        return false;
    status.started(tables_);

    SessionColumns reader(session_, tables_);
    for (table_ = 0; table_ < tables_.size(); ++table_) {
        db::TableColumns columns;
        if (!runStep(ExportStep::readTable, !reader.isReady(table_),
                     [&] { columns = reader.take(table_); }))
            return false;
        if (columns.error) {
            ++unreadable_;
            if (!status.tableUnreadable(table_, *columns.error))
                return false;
        } else if (!status.tableRead(table_)) {
            return false;
        }
        runStep(ExportStep::writeTable, false, [&] {
            file->write(format_->table({table_, tables_[table_], {}, columns}));
        });
    }
    if (!runStep(ExportStep::finish, true, [&] {
            file->write(format_->end());
            file->commit();
        }))
        return false;
    status.finished(unreadable_);
    return true;
}

std::string closingMessage(size_t unreadable, size_t tables) {
    if (unreadable == 0)
        return "Done.";
    return "Done, but " + std::to_string(unreadable) + " of " + std::to_string(tables) +
           " tables could not be read.";
}

} // namespace orv::report
