#include "ui/MySQL.h"

#include "app/ErrorReport.h"
#include "db/Catalogue.h"
#include "db/Connection.h"
#include "db/Error.h"
#include "ui/Waits.h"

#include <QListWidget>

#include <memory>
#include <optional>

namespace orv::ui {

void AddMySQLToList1(QListWidget& list, const db::Login& login, app::Dialogs& dialogs) {
    const Waits::Working working(waits());
    app::ErrorTrap trap(dialogs, list.window(), app::errorLocation("MySQL", "AddMySQLToList1"));
    std::unique_ptr<db::Connection> connection;
    // The rows of "SHOW TABLES;", read whole as a client-side cursor does; empty while closed.
    std::optional<std::vector<std::string>> rows;
    size_t row = 0;
    auto openRows = [&rows]() -> std::vector<std::string>& {
        if (!rows)
            throw Error(db::closedObjectText);
        return *rows;
    };
    auto needConnection = [&connection]() -> db::Connection& {
        if (!connection)
            throw Error(db::closedObjectText);
        return *connection;
    };

    trap.run(100, [&] { connection = std::make_unique<db::Connection>(); });
    trap.run(106, [&] { waits().run([&] { needConnection().open(login); }); });
    trap.run(108, [&] { list.clear(); });
    trap.run(110, [&] {
        rows = waits().run([&] { return needConnection().firstColumn(db::showTablesQuery); });
    });
    size_t count = 0;
    trap.run(112, [&] { count = openRows().size(); });
    for (size_t pass = 1; pass <= count; ++pass) {
        bool goOn = true;
        trap.run(114, [&goOn] { goOn = waits().yield(); });
        if (!goOn)
            break;
        std::string name;
        bool listed = trap.holds(116, [&] {
            name = openRows().at(row);
            return db::isListedTable(name);
        });
        if (listed)
            trap.run(118, [&] {
                // A name wider than the list can still be read whole.
                auto* item = new QListWidgetItem(QString::fromUtf8(name), &list);
                item->setToolTip(item->text());
            });
        trap.run(120, [&] { ++row; });
    }
    trap.run(124, [&] {
        openRows();
        rows.reset();
    });
    trap.run(126, [&] { needConnection().close(); });
    trap.run(128, [&] {
        if (list.count() > 0) {
            list.setCurrentRow(0);
            list.item(0)->setSelected(true);
        }
    });
}

} // namespace orv::ui
