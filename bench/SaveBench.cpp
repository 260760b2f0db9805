// Times "Save Results" in the selection window: logs in with "Next >", selects every table and
// saves the report SAVES times, each to a new file, answering the dialogs itself.
//   orvendel-save-bench HOST PORT USER PASSWORD DATABASE SAVES

#include "app/Dialogs.h"
#include "ui/Form1.h"
#include "ui/Form2.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// Answers the save dialog with the next file and counts the messages.
class Answers final : public orv::app::Dialogs {
public:
    explicit Answers(QString folder) : folder_(std::move(folder)) {}
    void message(QWidget*, const QString& text, const QString&, orv::app::MessageIcon,
                 const QString&) override {
        last = text;
    }
    bool askYesNo(QWidget*, const QString&, const QString&) override { return true; }
    QString saveFileName(QWidget*, const QString&, const QString&) override {
        return folder_ + QStringLiteral("/report-%1.txt").arg(++saves_);
    }
    QString last;

private:
    QString folder_;
    int saves_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s HOST PORT USER PASSWORD DATABASE SAVES\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir folder;
    Answers dialogs(folder.path());
    orv::ui::Form1 form1({dialogs, QString(), [] { return 1; }, [](const QUrl&) {}});
    form1.show();
    form1.Text1->setText(argv[1]);
    form1.Text5->setText(argv[2]);
    form1.Text2->setText(argv[3]);
    form1.Text3->setText(argv[4]);
    form1.Text4->setText(argv[5]);

    QElapsedTimer clock;
    clock.start();
    form1.PushButton3_Click();
    const double next = double(clock.elapsed()) / 1000.0;
    orv::ui::Form2& form2 = form1.form2();
    form2.PushButton8->click();
    std::vector<double> saves;
    for (int i = 0; i < std::atoi(argv[6]); ++i) {
        dialogs.last.clear();
        clock.restart();
        form2.PushButton5->click();
        saves.push_back(double(clock.elapsed()) / 1000.0);
        if (dialogs.last != QStringLiteral("Done.")) {
            std::fprintf(stderr, "save %d: %s\n", i + 1, qPrintable(dialogs.last));
            return 1;
        }
    }
    std::printf("\"Next >\" %.3f s, %d tables;", next, form2.List1->count());
    if (!saves.empty()) {
        std::vector<double> sorted = saves;
        std::sort(sorted.begin(), sorted.end());
        std::printf(" \"Save Results\" first %.3f s, median of %zu %.3f s (%.3f-%.3f)", saves[0],
                    saves.size(), sorted[sorted.size() / 2], sorted.front(), sorted.back());
    }
    std::printf("\n");
    return 0;
}
