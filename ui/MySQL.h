#pragma once

#include "app/Dialogs.h"
#include "db/Session.h"

#include <string>
#include <vector>

class QListWidget;

namespace orv::ui {

// Clears the list and fills it with the listed tables of the session's database, selecting the
// first one. Failures are reported step by step with the error report.
void AddMySQLToList1(QListWidget& list, db::Session& session, app::Dialogs& dialogs);

// Adds a listed table to the list: the item shows the name, and keeps it as the server gave it.
void addTable(QListWidget& list, const std::string& name);

// The names of the selected tables, in list order, as the server gave them.
std::vector<std::string> selectedTables(const QListWidget& list);

} // namespace orv::ui
