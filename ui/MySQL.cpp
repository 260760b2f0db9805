#include "ui/MySQL.h"

#include "app/ErrorReport.h"
#include "db/Catalogue.h"
#include "db/Error.h"
#include "ui/Waits.h"

#include <QListWidget>

#include <optional>

namespace orv::ui {

namespace {
// The role that holds an item's table name, byte for byte: a name the server gives need not
// survive the way through the list's text unchanged.
constexpr int tableNameRole = Qt::UserRole;
} // namespace

void addTable(QListWidget& list, const std::string& name) {
    auto* item = new QListWidgetItem(QString::fromUtf8(name), &list);
    item->setData(tableNameRole, QByteArray::fromStdString(name));
}

std::vector<std::string> selectedTables(const QListWidget& list) {
    std::vector<std::string> names;
    for (int i = 0; i < list.count(); ++i)
        if (const QListWidgetItem* item = list.item(i); item->isSelected())
            names.push_back(item->data(tableNameRole).toByteArray().toStdString());
    return names;
}

void AddMySQLToList1(QListWidget& list, db::Session& session, app::Dialogs& dialogs) {
    const Waits::Working working(waits());
    app::ErrorTrap trap(dialogs, list.window(), app::errorLocation("MySQL", "AddMySQLToList1"));
    // The listed tables, read whole as a client-side cursor does; empty while closed.
    std::optional<std::vector<std::string>> rows;
    size_t row = 0;
    auto openRows = [&rows]() -> std::vector<std::string>& {
        if (!rows)
            throw Error(db::closedObjectText);
        return *rows;
    };

    // The session holds the connection (line 100 made one): it is opened here only when the
    // session has none open.
    trap.run(106, [&] { waits().run([&] { session.connect(); }); });
    trap.run(108, [&] { list.clear(); });
    trap.run(110, [&] {
        rows = waits().run([&] {
            return session.use(
                [](db::Connection& connection) { return db::listTables(connection); });
        });
    });
    size_t count = 0;
    trap.run(112, [&] { count = openRows().size(); });
    for (size_t pass = 1; pass <= count; ++pass) {
        bool goOn = true;
        trap.run(114, [&goOn] { goOn = waits().yield(); });
        if (!goOn)
            break;
        std::string name;
        trap.run(116, [&] { name = openRows().at(row); });
        trap.run(118, [&] { addTable(list, name); });
        trap.run(120, [&] { ++row; });
    }
    trap.run(124, [&] {
        openRows();
        rows.reset();
    });
    // The connection stays open for the reports; without one the step fails, as closing a
    // closed connection did.
    trap.run(126, [&] { session.connection(); });
    trap.run(128, [&] {
        if (list.count() > 0) {
            list.setCurrentRow(0);
            list.item(0)->setSelected(true);
        }
    });
}

} // namespace orv::ui
