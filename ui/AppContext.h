#pragma once

#include "app/Dialogs.h"

#include <QString>
#include <QUrl>

#include <functional>

namespace orv::ui {

// What the windows take from their surroundings, so tests can provide their own.
struct AppContext {
    app::Dialogs& dialogs;
    // Where the optional skin and cursor files are looked up.
    QString applicationFolder;
    // A whole number from 1 to 100, drawn once per start.
    std::function<int()> drawVendorNumber;
    // Opens a web address without waiting for it.
    std::function<void(const QUrl&)> openUrl;
};

// The default draw: a generator seeded from the clock at each start.
int drawFromClock();

} // namespace orv::ui
