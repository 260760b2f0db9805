#pragma once

#include "app/Dialogs.h"
#include "db/Login.h"

class QListWidget;

namespace orv::ui {

// Clears the list and fills it with the listed tables of the login's database, selecting the
// first one. Failures are reported step by step with the error report.
void AddMySQLToList1(QListWidget& list, const db::Login& login, app::Dialogs& dialogs);

} // namespace orv::ui
