#include "app/Dialogs.h"
#include "app/Style.h"
#include "ui/AppContext.h"
#include "ui/Form1.h"
#include "ui/Program.h"

#include <QApplication>
#include <QDesktopServices>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    orv::app::QtDialogs dialogs;
    orv::ui::Form1 form1({dialogs, orv::app::applicationFolder(), orv::ui::drawFromClock,
                          [](const QUrl& url) { QDesktopServices::openUrl(url); }});
    form1.Form_Load();
    // A window closed while the start-up still waited for the server ends the program too.
    if (orv::ui::programEnding())
        return 0;
    return QApplication::exec();
}
