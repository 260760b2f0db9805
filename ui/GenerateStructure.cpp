#include "ui/GenerateStructure.h"

#include "app/ErrorReport.h"
#include "report/StructureExport.h"
#include "ui/MySQL.h"
#include "ui/Waits.h"

#include <QFile>
#include <QListWidget>

namespace orv::ui {

namespace {
// Marks the window as busy for as long as it lives.
class BusyWindow {
public:
    explicit BusyWindow(const std::function<void(bool)>& setBusy) : setBusy_(setBusy) {
        setBusy_(true);
    }
    ~BusyWindow() { setBusy_(false); }
    BusyWindow(const BusyWindow&) = delete;
    BusyWindow& operator=(const BusyWindow&) = delete;

private:
    const std::function<void(bool)>& setBusy_;
};

// The error report's line of each step.
int lineOf(report::ExportStep step) {
    switch (step) {
    case report::ExportStep::createFile:
        return 118;
    case report::ExportStep::writeHead:
        return 122;
    case report::ExportStep::connect:
        return 142;
    case report::ExportStep::readTable:
        return 154;
    case report::ExportStep::writeTable:
        // A table's text is written at once; its rows are nearly all of it.
        return 188;
    case report::ExportStep::finish:
        return 206;
    }
    return 0;
}

// The desktop's side of an export: the work that may wait (creating the file, a pipe among
// them, and the server's answers) runs off the window thread, and the windows repaint between
// tables. Closing a window abandons it.
class WindowExportStatus : public report::ExportStatus {
public:
    explicit WindowExportStatus(app::ErrorTrap& trap) : trap_(trap) {}

    bool wait(const std::function<void()>& work) override {
        ui::waits().run(work);
        return !ui::waits().ending();
    }
    bool tableRead(size_t) override { return ui::waits().yield(); }
    bool tableUnreadable(size_t, const Error& error) override {
        trap_.report(lineOf(report::ExportStep::readTable), std::make_exception_ptr(error));
        return ui::waits().yield();
    }

private:
    app::ErrorTrap& trap_;
};
} // namespace

bool GenerateStructure(const QListWidget& list, db::Session& session, const QString& fileName,
                       app::Dialogs& dialogs, const std::function<void(bool)>& setBusy) {
    // The file of a running export must not be disturbed by a second one.
    if (waits().busy())
        return false;
    const Waits::Working working(waits());
    app::ErrorTrap trap(dialogs, list.window(), app::errorLocation("Form2", "GenerateStructure"));

    // The names are taken once: the list may change while the export yields to events.
    std::vector<std::string> tables = selectedTables(list);
    if (tables.empty()) {
        dialogs.message(list.window(), QStringLiteral("Select The Table To Print The Structure"),
                        app::applicationTitle(), app::MessageIcon::None);
        return true;
    }

    report::StructureExport job(session, std::move(tables),
                                QFile::encodeName(fileName).toStdString());
    // The window asked before an existing file is replaced, and a yes removes even a read-only
    // one.
    job.setOverwrite(report::Overwrite::confirmed);
    bool written = false;
    {
        const BusyWindow busy(setBusy);
        WindowExportStatus status(trap);
        try {
            written = job.run(status);
        } catch (...) {
            trap.report(lineOf(job.step()), std::current_exception());
        }
    }
    if (written)
        dialogs.message(list.window(),
                        QString::fromStdString(
                            report::closingMessage(job.unreadableTables(), job.tableCount())),
                        app::applicationTitle(), app::MessageIcon::None);
    return true;
}
} // namespace orv::ui
