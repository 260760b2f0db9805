// Times "Next >" on a database with many tables until the selection window shows the filled
// list, and how long the login window went without handling its events meanwhile.
//   orvendel-list-bench HOST PORT USER PASSWORD DATABASE

#include "app/Dialogs.h"
#include "ui/Form1.h"
#include "ui/Form2.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
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
    form1.show();
    form1.Text1->setText(argv[1]);
    form1.Text5->setText(argv[2]);
    form1.Text2->setText(argv[3]);
    form1.Text3->setText(argv[4]);
    form1.Text4->setText(argv[5]);

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
    form1.PushButton3_Click();
    orv::ui::Form2& form2 = form1.form2();
    // Shown means laid out and painted once.
    form2.grab();
    const qint64 total = clock.elapsed();
    longestPause = std::max(longestPause, total - lastTick);
    std::printf("%d tables listed in %.2f s (window %s); longest time without handling window "
                "events: %lld ms\n",
                form2.List1->count(), double(total) / 1000.0,
                form2.isVisible() ? "shown" : "NOT shown", static_cast<long long>(longestPause));
    return 0;
}
