// Times the filling of the selection window's table list, the way "Next >" fills it, and how
// long the window went without handling its events meanwhile.
//   orvendel-list-bench HOST PORT USER PASSWORD DATABASE

#include "app/Dialogs.h"
#include "ui/Form1.h"
#include "ui/Form2.h"
#include "ui/MySQL.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s HOST PORT USER PASSWORD DATABASE\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    orv::app::QtDialogs dialogs;
    orv::ui::Form1 form1({dialogs, QString(), [] { return 1; }, [](const QUrl&) {}});
    orv::ui::Form2& form2 = form1.form2();
    form2.show();
    const orv::db::Login login{argv[1], argv[3], argv[4], argv[5], argv[2]};

    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 longestPause = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longestPause = std::max(longestPause, now - lastTick);
        lastTick = now;
    });
    clock.start();
    ticker.start();
    orv::ui::AddMySQLToList1(*form2.List1, login, dialogs);
    const qint64 total = clock.elapsed();
    longestPause = std::max(longestPause, total - lastTick);
    std::printf("%d tables listed in %.2f s; longest time without handling window events: %lld "
                "ms\n",
                form2.List1->count(), double(total) / 1000.0, static_cast<long long>(longestPause));
    return 0;
}
