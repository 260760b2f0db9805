#pragma once

#include "app/Dialogs.h"
#include "db/Login.h"

#include <QString>

#include <functional>

class QListWidget;

namespace orv::ui {

// Writes the structure report of the tables selected in the list to the file, reporting
// failures with the error report, and tells the user how it went. setBusy(true) and
// setBusy(false) bracket the work. Returns false without doing anything when other work is
// running.
bool GenerateStructure(const QListWidget& list, const db::Login& login, const QString& fileName,
                       app::Dialogs& dialogs, const std::function<void(bool)>& setBusy);

} // namespace orv::ui
