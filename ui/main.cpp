#include "app/Dialogs.h"
#include "app/Style.h"
#include "db/Deadline.h"
#include "sys/Files.h"
#include "ui/AppContext.h"
#include "ui/Form1.h"
#include "ui/Waits.h"

#include <QApplication>
#include <QDesktopServices>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int exitNoDisplay = 1;

constexpr const char* helpText =
    "Usage: orvendel [--help] [--version]\n"
    "\n"
    "Orvendel writes a plain-text report of the structure of MySQL and MariaDB tables: log in,\n"
    "pick tables, save. The login is remembered in ~/.config/Kestrane.ini.\n"
    "\n"
    "It needs a display. Without one, orvendel-export writes the same report from a shell\n"
    "(orvendel-export --help).\n";

constexpr const char* versionText = "orvendel (Orvendel) " ORVENDEL_VERSION "\n"
                                    "License: MIT\n"
                                    "Without a display: orvendel-export\n";

bool asked(int argc, char** argv, const char* option) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], option) == 0)
            return true;
    return false;
}

// Qt ends a program that finds no display with a long text that suggests reinstalling it. While
// the application starts, its messages are held back, and that end is told in one line.
struct HeldMessage {
    QtMsgType type;
    QString text;
};
std::vector<HeldMessage> heldMessages;

void holdMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtFatalMsg) {
        std::fputs("orvendel: no display could be opened; for use without a display, run "
                   "orvendel-export\n",
                   stderr);
        std::_Exit(exitNoDisplay);
    }
    heldMessages.push_back({type, text});
}

} // namespace

int main(int argc, char** argv) {
    // The window holds the stored password, and its report file must not take a standard
    // stream's place.
    orv::sys::openClosedStandardStreams();
    orv::sys::forbidCoreDumps();
    // Ended by a signal (the desktop session closing, Ctrl+C in its terminal) during a save, it
    // leaves no unfinished report or settings file beside the real one.
    orv::sys::dieCleanlyOnStopSignals();
    if (asked(argc, argv, "--help")) {
        std::fputs(helpText, stdout);
        return EXIT_SUCCESS;
    }
    if (asked(argc, argv, "--version")) {
        std::fputs(versionText, stdout);
        return EXIT_SUCCESS;
    }
    const QtMessageHandler previous = qInstallMessageHandler(holdMessage);
    QApplication application(argc, argv);
    qInstallMessageHandler(previous);
    for (const HeldMessage& message : heldMessages)
        previous(message.type, QMessageLogContext(), message.text);
    heldMessages.clear();

    QApplication::setQuitOnLastWindowClosed(false);
    orv::app::QtDialogs dialogs;
    orv::ui::Form1 form1({dialogs, orv::app::applicationFolder(), orv::ui::drawFromClock,
                          [](const QUrl& url) { QDesktopServices::openUrl(url); }});
    form1.Form_Load();
    // A window closed while the start-up still waited for the server ends the program too.
    if (orv::ui::waits().ending())
        return EXIT_SUCCESS;
    const int status = QApplication::exec();
    // A connection attempt given up at its deadline may still run inside the driver or OpenSSL:
    // the libraries' exit handlers must not tear down what it is using. The settings are on disk
    // already, written as they were typed.
    if (orv::db::waitForAbandonedWork(std::chrono::milliseconds(0)) > 0)
        std::_Exit(status);
    return status;
}
