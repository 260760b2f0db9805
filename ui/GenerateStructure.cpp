#include "ui/GenerateStructure.h"

#include "app/Background.h"
#include "app/ErrorReport.h"
#include "report/StructureExport.h"
#include "ui/Program.h"

#include <QCoreApplication>
#include <QFile>
#include <QListWidget>

namespace orv::ui {

namespace {
bool running = false;

// Lets the windows repaint; false once the program is being closed, which abandons the export.
bool yield() {
    QCoreApplication::processEvents();
    return !programEnding();
}

// Marks the export as running and the window as busy for as long as it lives.
class RunningExport {
public:
    explicit RunningExport(const std::function<void(bool)>& setBusy) : setBusy_(setBusy) {
        running = true;
        setBusy_(true);
    }
    ~RunningExport() {
        setBusy_(false);
        running = false;
    }
    RunningExport(const RunningExport&) = delete;
    RunningExport& operator=(const RunningExport&) = delete;

private:
    const std::function<void(bool)>& setBusy_;
};

bool runExport(report::StructureExport& job, app::ErrorTrap& trap) {
    bool ok = trap.run(118, [&] { job.createFile(); }) && trap.run(122, [&] { job.writeHead(); }) &&
              trap.run(142, [&] { app::runWithoutFreezing([&job] { job.connect(); }); });
    for (size_t i = 0; ok && i < job.tableCount(); ++i) {
        if (!yield())
            return false;
        std::optional<Error> unreadable;
        ok = trap.run(154, [&] {
            if (job.isReadAhead(i))
                unreadable = job.readTable(i);
            else
                unreadable = app::runWithoutFreezing([&job, i] { return job.readTable(i); });
        });
        if (!ok)
            break;
        if (unreadable)
            trap.report(154, std::make_exception_ptr(*unreadable));
        ok = trap.run(162, [&] { job.writeTableHead(); });
        for (size_t column = 0; ok && column < job.columnCount(); ++column) {
            if (!yield())
                return false;
            ok = trap.run(188, [&] { job.writeColumn(column); });
        }
        ok = ok && trap.run(198, [&] { job.writeTableEnd(); });
    }
    return ok && trap.run(206, [&] { job.finish(); });
}
} // namespace

bool exportRunning() noexcept {
    return running;
}

bool GenerateStructure(const QListWidget& list, const db::Login& login, const QString& fileName,
                       app::Dialogs& dialogs, const std::function<void(bool)>& setBusy) {
    if (running)
        return false;
    app::ErrorTrap trap(dialogs, list.window(), app::errorLocation("Form2", "GenerateStructure"));

    // The names are taken once: the list may change while the export yields to events.
    std::vector<std::string> tables;
    for (int i = 0; i < list.count(); ++i)
        if (list.item(i)->isSelected())
            tables.push_back(list.item(i)->text().toStdString());
    if (tables.empty()) {
        dialogs.message(list.window(), QStringLiteral("Select The Table To Print The Structure"),
                        app::applicationTitle(), app::MessageIcon::None);
        return true;
    }

    bool ok = false;
    report::StructureExport job(login, std::move(tables),
                                QFile::encodeName(fileName).toStdString());
    {
        RunningExport busy(setBusy);
        ok = runExport(job, trap);
    }
    if (ok)
        dialogs.message(list.window(),
                        QString::fromStdString(
                            report::closingMessage(job.unreadableTables(), job.tableCount())),
                        app::applicationTitle(), app::MessageIcon::None);
    return true;
}
} // namespace orv::ui
