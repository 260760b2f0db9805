#pragma once

#include "app/Dialogs.h"
#include "db/Session.h"

#include <QString>

#include <functional>

class QListWidget;

namespace orv::ui {

// Writes the structure report of the tables selected in the list (filled by AddMySQLToList1)
// to the file, on the session's connection, reporting failures with the error report, and
// tells the user how it went. setBusy(true) and setBusy(false) bracket the work. Returns false
// without doing anything when other work is running.
bool GenerateStructure(const QListWidget& list, db::Session& session, const QString& fileName,
                       app::Dialogs& dialogs, const std::function<void(bool)>& setBusy);

} // namespace orv::ui
