#pragma once

#include "db/Error.h"
#include "db/Session.h"
#include "report/ReportFile.h"
#include "report/ReportFormat.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orv::report {

// The steps of an export, in the order they run; reading and writing repeat per table.
enum class ExportStep {
    createFile,
    writeHead,
    connect,
    readTable,
    writeTable,
    finish,
};

// What an export tells its front end as it goes, and the one thing it asks of it: to run the
// work that may wait. Each front end decides where such work runs, how it is shown and when to
// stop; a hook that returns false abandons the export.
class ExportStatus {
public:
    virtual ~ExportStatus() = default;
    // Runs work that may wait for the server or the file system (creating the file, opening
    // the connection, reading a table, completing the report); its failure is thrown on.
    virtual bool wait(const std::function<void()>& work) = 0;
    // The file holds the head and the connection is open: the tables are read next.
    virtual void started(const std::vector<std::string>& tables);
    // The table of this index was read; it is written next.
    virtual bool tableRead(size_t index);
    // The table could not be read; it is written without columns.
    virtual bool tableUnreadable(size_t index, const Error& error);
    // The report is complete and in its place.
    virtual void finished(size_t unreadableTables);
};

// One export of the structure report, on the session's connection, which it opens when none is
// open and opens again when the server has closed it. The table names are copied on
// construction, so the caller's list may change while the export runs. An export that ends
// before its last step leaves no report file behind.
class StructureExport {
public:
    StructureExport(db::Session& session, std::vector<std::string> tables, std::string path,
                    std::unique_ptr<ReportFormat> format = std::make_unique<TextFormat>());

    // How an existing file the user may not write is treated; refused unless set otherwise.
    void setOverwrite(Overwrite overwrite) noexcept { overwrite_ = overwrite; }

    // Runs every step: true when the report was written, false when a hook abandoned it. A
    // failure ends the export and is thrown on; step() and table() then tell where it happened.
    bool run(ExportStatus& status);

    ExportStep step() const noexcept { return step_; }
    // The table of the step that reads or writes one; empty for the other steps.
    std::string table() const;

    size_t tableCount() const noexcept { return tables_.size(); }
    size_t unreadableTables() const noexcept { return unreadable_; }

private:
    template <class Work> bool runStep(ExportStep step, bool waits, Work&& work);

    db::Session& session_;
    std::vector<std::string> tables_;
    std::string path_;
    std::unique_ptr<ReportFormat> format_;
    Overwrite overwrite_ = Overwrite::asTheShellDoes;
    ExportStatus* status_ = nullptr;
    ExportStep step_ = ExportStep::createFile;
    size_t table_ = 0;
    size_t unreadable_ = 0;
};

// The message that closes an export: "Done." only when every table was read.
std::string closingMessage(size_t unreadable, size_t tables);

} // namespace orv::report
