#include "ui/GenerateStructure.h"

#include "app/ErrorReport.h"
#include "report/StructureExport.h"
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

// The desktop's side of an export: each step under the error trap at its source line, the
// steps that may wait (creating the file, a pipe among them, and the server's answers) run off
// the window thread, and the windows repaint between rows. Closing a window abandons it.
class WindowExportStatus : public report::ExportStatus {
public:
    explicit WindowExportStatus(app::ErrorTrap& trap) : trap_(trap) {}

    bool step(report::ExportStep step, const std::string&, bool waits,
              const std::function<void()>& work) override {
        return trap_.run(lineOf(step), [&] {
            if (waits)
                ui::waits().run(work);
            else
                work();
        });
    }
    void unreadable(const std::string&, const Error& error) override {
        trap_.report(lineOf(report::ExportStep::readTable), std::make_exception_ptr(error));
    }
    bool goOn() override { return ui::waits().yield(); }

private:
    static int lineOf(report::ExportStep step) {
        switch (step) {
        case report::ExportStep::createFile:
            return 118;
        case report::ExportStep::writeHead:
            return 122;
        case report::ExportStep::connect:
            return 142;
        case report::ExportStep::readTable:
            return 154;
        case report::ExportStep::writeTableHead:
            return 162;
        case report::ExportStep::writeColumn:
            return 188;
        case report::ExportStep::writeTableEnd:
            return 198;
        case report::ExportStep::finish:
            return 206;
        }
        return 0;
    }

    app::ErrorTrap& trap_;
};
} // namespace

bool GenerateStructure(const QListWidget& list, const db::Login& login, const QString& fileName,
                       app::Dialogs& dialogs, const std::function<void(bool)>& setBusy) {
    // The file of a running export must not be disturbed by a second one.
    if (waits().busy())
        return false;
    const Waits::Working working(waits());
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
    // The window asked before an existing file is replaced, and a yes removes even a read-only
    // one.
    job.setOverwrite(report::Overwrite::confirmed);
    {
        BusyWindow busy(setBusy);
        WindowExportStatus status(trap);
        ok = job.run(status);
    }
    if (ok && !waits().ending())
        dialogs.message(list.window(),
                        QString::fromStdString(
                            report::closingMessage(job.unreadableTables(), job.tableCount())),
                        app::applicationTitle(), app::MessageIcon::None);
    return true;
}
} // namespace orv::ui
