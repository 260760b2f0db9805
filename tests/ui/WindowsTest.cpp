#include "cli/ServerTools.h"
#include "db/Connection.h"
#include "settings/Settings.h"
#include "support/FakeDialogs.h"
#include "support/Files.h"
#include "support/TestServer.h"
#include "sys/Files.h"
#include "ui/Form1.h"
#include "ui/Form2.h"
#include "ui/Waits.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <gtest/gtest.h>

#include <future>
#include <optional>
#include <thread>
#include <tuple>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace orv;

namespace {

const QString failureText =
    "Could not connect. Please check with your administrator. Make sure you allowed to connect "
    "to your database remotely and not just through web-based control panels.";

class Windows : public ::testing::Test {
protected:
    void SetUp() override {
        ui::waits().reset();
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.path()));
        // Tests run side by side: each has a database of its own.
        shop =
            std::string("win_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        test::recreateDatabase(shop);
        test::sql("USE " + shop +
                  "; CREATE TABLE customers (id int, name varchar(45));"
                  "CREATE TABLE orders (order_id int); CREATE TABLE sys_log (x int);"
                  "CREATE TABLE products (sku char(10));");
    }

    // Stores a login the way the login window would have.
    void store(const db::Login& login) {
        settings::WriteSetting(settings::MyServer, QString::fromStdString(login.server));
        settings::WriteSetting(settings::MyUser, QString::fromStdString(login.user));
        settings::WriteSetting(settings::MyPassword, QString::fromStdString(login.password));
        settings::WriteSetting(settings::MyDatabase, QString::fromStdString(login.database));
        settings::WriteSetting(settings::MyPort, QString::fromStdString(login.port));
    }

    static void typeLogin(ui::Form1& form, const db::Login& login) {
        form.Text1->setText(QString::fromStdString(login.server));
        form.Text2->setText(QString::fromStdString(login.user));
        form.Text3->setText(QString::fromStdString(login.password));
        form.Text4->setText(QString::fromStdString(login.database));
        form.Text5->setText(QString::fromStdString(login.port));
    }

    ui::Form1& start() {
        form1 = std::make_unique<ui::Form1>(ui::AppContext{
            dialogs, QString::fromStdString(appFolder.path()), [this] { return draw; },
            [this](const QUrl& url) { opened << url.toString(); }});
        form1->Form_Load();
        QApplication::setActiveWindow(form1.get());
        return *form1;
    }

    // Logs in through the window to the shop database and moves on to the table list.
    ui::Form2& tableList() {
        store(test::serverLogin(shop));
        start();
        EXPECT_TRUE(form1->hasForm2());
        return form1->form2();
    }

    static QStringList items(const QListWidget& list) {
        QStringList names;
        for (int i = 0; i < list.count(); ++i)
            names << list.item(i)->text();
        return names;
    }

    static int selectedCount(const QListWidget& list) {
        int count = 0;
        for (int i = 0; i < list.count(); ++i)
            count += list.item(i)->isSelected() ? 1 : 0;
        return count;
    }

    std::string shop;
    test::TempDir config;
    test::TempDir appFolder;
    test::TempDir files;
    test::FakeDialogs dialogs;
    int draw = 50;
    QStringList opened;
    std::unique_ptr<ui::Form1> form1;
};

} // namespace

TEST_F(Windows, FirstStartShowsTheDefaultsAndStoresServerAndPort) {
    ui::Form1& form = start();
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.Text1->text(), "localhost");
    EXPECT_EQ(form.Text2->text(), "");
    EXPECT_EQ(form.Text3->text(), "");
    EXPECT_EQ(form.Text4->text(), "");
    EXPECT_EQ(form.Text5->text(), "3306");
    EXPECT_FALSE(form.hasForm2());
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(form.windowTitle(), "Orvendel");
    const std::string ini = test::readFile(config.file("Kestrane.ini"));
    EXPECT_NE(ini.find("MyServer=localhost"), std::string::npos) << ini;
    EXPECT_NE(ini.find("MyPort=3306"), std::string::npos) << ini;
    EXPECT_EQ(ini.find("MyUser"), std::string::npos) << ini;
    EXPECT_EQ(ini.find("MyPassword"), std::string::npos) << ini;
}

TEST_F(Windows, AWorkingStoredLoginOpensTheTableList) {
    ui::Form2& form2 = tableList();
    EXPECT_FALSE(form1->isVisible());
    EXPECT_TRUE(form2.isVisible());
    EXPECT_EQ(items(*form2.List1), (QStringList{"customers", "orders", "products"}));
    EXPECT_TRUE(form2.List1->item(0)->isSelected());
    EXPECT_EQ(form2.windowTitle(), "Orvendel");
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(Windows, AWrongOrPasswordlessStoredLoginStaysOnTheLoginWindow) {
    db::Login wrong = test::serverLogin(shop);
    wrong.password = "not-it";
    store(wrong);
    start();
    EXPECT_TRUE(form1->isVisible());
    EXPECT_FALSE(form1->hasForm2());
    EXPECT_EQ(form1->Text3->text(), "not-it");
    EXPECT_TRUE(dialogs.messages.empty());

    // The server would take an empty password, but a login without one never connects alone.
    test::sql("DROP USER IF EXISTS 'open'@'localhost', 'open'@'127.0.0.1';"
              "CREATE USER 'open'@'localhost'; CREATE USER 'open'@'127.0.0.1';"
              "GRANT ALL ON " +
              shop + ".* TO 'open'@'localhost', 'open'@'127.0.0.1';");
    db::Login open = test::serverLogin(shop);
    open.user = "open";
    open.password = "";
    store(open);
    start();
    EXPECT_TRUE(form1->isVisible());
    EXPECT_FALSE(form1->hasForm2());
    EXPECT_TRUE(db::TestMySQLConnection(open));
}

TEST_F(Windows, EveryKeystrokeIsStoredAndFocusSelectsTheWholeText) {
    ui::Form1& form = start();
    QStringList stored;
    QObject::connect(form.Text3, &QLineEdit::textChanged,
                     [&] { stored << settings::ReadSetting(settings::MyPassword, "<none>"); });
    form.Text3->setFocus();
    QTest::keyClicks(form.Text3, "abc");
    EXPECT_EQ(stored, (QStringList{"a", "ab", "abc"}));
    EXPECT_EQ(form.Text3->displayText(), "***");

    form.Text5->clear();
    EXPECT_EQ(settings::ReadSetting(settings::MyPort, "3306"), "");

    form.Text1->setFocus();
    QTest::keyClick(form.Text1, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form.Text5);
    EXPECT_EQ(form.Text5->selectedText(), form.Text5->text());
    form.Text5->setText("3307");
    form.Text1->setFocus();
    form.Text5->setFocus();
    EXPECT_EQ(form.Text5->selectedText(), "3307");
}

TEST_F(Windows, TestConnectionSaysWhetherTheLoginWorks) {
    ui::Form1& form = start();
    const db::Login login = test::serverLogin(shop);
    form.Text1->setText(QString::fromStdString(login.server));
    form.Text2->setText(QString::fromStdString(login.user));
    form.Text3->setText(QString::fromStdString(login.password));
    form.Text4->setText(QString::fromStdString(shop));
    form.Text5->setText(QString::fromStdString(login.port));
    std::vector<int> pointerWhileShown;
    dialogs.onMessage = [&] { pointerWhileShown.push_back(form.pointer().state()); };
    form.PushButton5->click();
    form.Text3->setText("wrong");
    form.PushButton5->click();
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[0].text, "Connection successful.");
    EXPECT_EQ(dialogs.messages[1].text, failureText);
    EXPECT_EQ(dialogs.messages[1].title, "Orvendel");
    EXPECT_EQ(dialogs.messages[1].icon, app::MessageIcon::None);
    EXPECT_EQ(pointerWhileShown, (std::vector<int>{app::PointerBusy, app::PointerBusy}));
    EXPECT_EQ(form.pointer().state(), app::PointerDefault);

    form.Text1->clear();
    form.Text2->clear();
    form.Text3->clear();
    form.Text4->clear();
    form.Text5->clear();
    form.PushButton5->click();
    EXPECT_EQ(dialogs.messages.back().text, failureText);
}

TEST_F(Windows, NextWithAWrongPasswordChangesNothing) {
    ui::Form1& form = start();
    db::Login login = test::serverLogin(shop);
    form.Text1->setText(QString::fromStdString(login.server));
    form.Text2->setText(QString::fromStdString(login.user));
    form.Text3->setText("wrong");
    form.Text4->setText(QString::fromStdString(shop));
    form.Text5->setText(QString::fromStdString(login.port));
    form.PushButton3->click();
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.hasForm2());
    EXPECT_TRUE(dialogs.messages.empty());

    form.Text3->setText(QString::fromStdString(login.password));
    form.PushButton3->click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(form.form2().isVisible());
}

TEST_F(Windows, HelpTextIsExact) {
    start().PushButton4->click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text,
              "If you cannot establish connection to your database with this program, please go "
              "to: \r\rhttps://dev.mysql.com/downloads/workbench/\r\rDownload and install the "
              "MySQL Workbench. Try to connect to the same database (with the same login "
              "information you are using here). This will determine if the login you are using "
              "is correct.\r\rFinally, make sure your host allows a direct connection to your "
              "MySQL database -- not a web based connection, for example.");
    EXPECT_EQ(dialogs.messages[0].title, "Orvendel");
}

TEST_F(Windows, DesignedSizesCaptionsAndOrder) {
    ui::Form1& form = start();
    EXPECT_EQ(form.size(), QSize(536, 246));
    EXPECT_EQ(form.Frame1->title(), "MySQL Login");
    EXPECT_EQ(form.PushButton3->geometry(), QRect(8, 210, 520, 27));
    EXPECT_EQ(form.Text3->mapTo(&form, QPoint(0, 0)), QPoint(96, 96));
    EXPECT_EQ(form.Label9->text(), "Port:");
    EXPECT_EQ(form.PushButton5->font().pointSizeF(), 11.25);
    EXPECT_TRUE(form.PushButton5->font().bold());
    EXPECT_EQ(QApplication::focusWidget(), form.Text1);
    QWidget* expected[] = {form.Text5,       form.Text2,       form.Text3,       form.Text4,
                           form.PushButton5, form.PushButton4, form.PushButton3, form.Text1};
    QWidget* current = form.Text1;
    for (QWidget* next : expected) {
        current = current->nextInFocusChain();
        while (current->focusPolicy() == Qt::NoFocus)
            current = current->nextInFocusChain();
        EXPECT_EQ(current, next) << next->objectName().toStdString();
    }

    ui::Form2& form2 = form.form2();
    EXPECT_EQ(form2.size(), QSize(392, 206));
    EXPECT_EQ(form2.Frame1->title(),
              "Which table do you want to export table structure as a text file?");
    EXPECT_EQ(form2.List1->toolTip(), "Hold CTRL+Click to select multiple tables");
    EXPECT_EQ(form2.List1->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_FALSE(form2.PushButton5->isDefault());
    EXPECT_TRUE(form.PushButton3->isDefault());

    // Each caption reads as designed, with one letter underlined for Alt.
    const std::tuple<QPushButton*, QString, Qt::Key> buttons[] = {
        {form.PushButton3, "Next >", Qt::Key_N},
        {form.PushButton5, "Test Connection", Qt::Key_T},
        {form.PushButton4, "Help", Qt::Key_H},
        {form2.PushButton8, "Select All", Qt::Key_S},
        {form2.PushButton9, "Deselect All", Qt::Key_D},
        {form2.PushButton2, "< Back", Qt::Key_B},
        {form2.PushButton5, "Save Results", Qt::Key_R}};
    for (const auto& [button, caption, key] : buttons) {
        EXPECT_EQ(QString(button->text()).remove('&'), caption);
        EXPECT_EQ(QKeySequence::mnemonic(button->text()), QKeySequence(Qt::ALT | key))
            << caption.toStdString();
    }
    // Assistive technology names each box by its label.
    const std::pair<QLineEdit*, QString> named[] = {{form.Text1, "Server:"},
                                                    {form.Text5, "Port:"},
                                                    {form.Text2, "Username:"},
                                                    {form.Text3, "Password:"},
                                                    {form.Text4, "Database:"}};
    for (const auto& [box, name] : named)
        EXPECT_EQ(QAccessible::queryAccessibleInterface(box)->text(QAccessible::Name), name);
}

TEST_F(Windows, TheVendorPageOpensOnlyOnASeven) {
    start();
    EXPECT_TRUE(opened.isEmpty());
    draw = 7;
    start();
    EXPECT_EQ(opened, QStringList{"https://www.kestrane.com/"});
}

TEST_F(Windows, SelectAllAndDeselectAll) {
    ui::Form2& form2 = tableList();
    form2.PushButton8->click();
    EXPECT_EQ(selectedCount(*form2.List1), 3);
    form2.PushButton9->click();
    EXPECT_EQ(selectedCount(*form2.List1), 0);
    form2.List1->clear();
    form2.PushButton8->click();
    form2.PushButton9->click();
    EXPECT_EQ(form2.List1->count(), 0);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(Windows, SaveResultsAsksAndWritesTheReport) {
    ui::Form2& form2 = tableList();

    // Cancelled: nothing shown, nothing written.
    form2.PushButton5->click();
    ASSERT_EQ(dialogs.saveDialogs.size(), 1u);
    EXPECT_EQ(dialogs.saveDialogs[0].first, "Select The Text File");
    EXPECT_EQ(dialogs.saveDialogs[0].second, "Text Files (*.txt)|*.txt");
    EXPECT_TRUE(dialogs.messages.empty());

    // A name without ".txt" is used as typed.
    dialogs.fileNames.push_back(QString::fromStdString(files.file("report")));
    form2.PushButton5->click();
    EXPECT_EQ(dialogs.texts(), QStringList{"Done."});
    EXPECT_EQ(files.listing(), "report");
    EXPECT_NE(test::readFile(files.file("report")).find("1) customers\r\n\r\n"), std::string::npos);

    // An existing file: "No" leaves it alone, "Yes" replaces it even when it is read-only.
    const std::string hidden = files.file(".hidden.txt");
    test::writeFile(hidden, "old");
    ::chmod(hidden.c_str(), 0444);
    dialogs.fileNames.push_back(QString::fromStdString(hidden));
    dialogs.answers.push_back(false);
    form2.PushButton5->click();
    ASSERT_EQ(dialogs.questions.size(), 1u);
    EXPECT_EQ(dialogs.questions[0].text,
              QString::fromStdString(hidden) + " Already Exists. Overwrite It?");
    EXPECT_EQ(test::readFile(hidden), "old");

    dialogs.fileNames.push_back(QString::fromStdString(hidden));
    dialogs.answers.push_back(true);
    form2.PushButton2->click();
    form1->PushButton3->click();
    form2.PushButton8->click();
    form2.PushButton5->click();
    EXPECT_EQ(dialogs.texts(), (QStringList{"Done.", "Done."}));
    EXPECT_NE(test::readFile(hidden).find("3) products\r\n"), std::string::npos);
}

TEST_F(Windows, SaveResultsNeedsACurrentItem) {
    ui::Form2& form2 = tableList();
    form2.List1->setCurrentRow(-1);
    form2.PushButton5->click();
    EXPECT_EQ(dialogs.texts(), QStringList{"Please select a table"});
    EXPECT_TRUE(dialogs.saveDialogs.empty());

    // A current item but no selection: the dialog appears, then the report writer refuses.
    form2.List1->setCurrentRow(1, QItemSelectionModel::NoUpdate);
    form2.List1->clearSelection();
    dialogs.fileNames.push_back(QString::fromStdString(files.file("none.txt")));
    form2.PushButton5->click();
    EXPECT_EQ(dialogs.texts(),
              (QStringList{"Please select a table", "Select The Table To Print The Structure"}));
    EXPECT_EQ(files.listing(), "");
}

TEST_F(Windows, BackAndNextRefillTheList) {
    ui::Form2& form2 = tableList();
    form2.PushButton8->click();
    form2.PushButton2->click();
    EXPECT_TRUE(form1->isVisible());
    EXPECT_FALSE(form2.isVisible());
    // Shown for the first time here, since the stored login worked: centred all the same.
    const QPoint offCentre =
        form1->geometry().center() - QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 4); // the window frame
    test::sql("USE " + shop + "; CREATE TABLE invoices (id int);");
    form1->PushButton3->click();
    EXPECT_TRUE(form2.isVisible());
    EXPECT_EQ(items(*form2.List1), (QStringList{"customers", "invoices", "orders", "products"}));
    EXPECT_EQ(selectedCount(*form2.List1), 1);
}

// Saving to a pipe that nobody reads says so at once, and the window goes on meanwhile.
TEST_F(Windows, SavingToAPipeWithoutAReaderFailsClearly) {
    ui::Form2& form2 = tableList();
    const std::string pipe = files.file("pipe.txt");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    dialogs.fileNames.push_back(QString::fromStdString(pipe));
    dialogs.answers.push_back(true);
    // Should the export wait for a reader after all, one comes after a while, so that the test
    // ends and says what happened.
    std::promise<void> saved;
    bool readerCame = false;
    std::thread rescue([&, done = saved.get_future()] {
        if (done.wait_for(std::chrono::seconds(3)) == std::future_status::timeout) {
            const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            readerCame = reader >= 0;
            if (readerCame)
                ::close(reader);
        }
    });
    form2.PushButton5->click();
    saved.set_value();
    rescue.join();
    EXPECT_FALSE(readerCame);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].title, "Application Error");
    EXPECT_TRUE(dialogs.messages[0].text.contains("no program is reading from it"))
        << dialogs.messages[0].text.toStdString();
    EXPECT_EQ(files.listing(), "pipe.txt");
    EXPECT_EQ(form2.pointer().state(), app::PointerDefault);
}

// Clicks that arrive while work runs, as clicks held back during the connection test arrive at
// the listing's first yield, run no handler inside another: each table is listed once.
TEST_F(Windows, ClicksWhileWorkRunsAreRefused) {
    ui::Form1& form = start();
    typeLogin(form, test::serverLogin(shop));
    ui::Form2& form2 = form.form2();
    QTimer::singleShot(0, &form, [&] { form.PushButton5->click(); });
    bool clickedWhileListing = false;
    QObject::connect(form2.List1->model(), &QAbstractItemModel::rowsInserted, &form2, [&] {
        if (!std::exchange(clickedWhileListing, true))
            QTimer::singleShot(0, &form, [&] {
                QTest::mouseClick(form.PushButton3, Qt::LeftButton);
                QTest::mouseDClick(form.PushButton3, Qt::LeftButton);
            });
    });
    form.PushButton3->click();
    EXPECT_TRUE(clickedWhileListing);
    EXPECT_EQ(items(*form2.List1), (QStringList{"customers", "orders", "products"}));
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_TRUE(form2.isVisible());
}

TEST_F(Windows, ASecondSaveWhileAnExportRunsIsIgnored) {
    ui::Form2& form2 = tableList();
    form2.PushButton8->click();
    dialogs.fileNames.push_back(QString::fromStdString(files.file("first.txt")));
    bool clickedDuringExport = false;
    std::vector<int> pointerDuringExport;
    QTimer::singleShot(0, &form2, [&] {
        pointerDuringExport.push_back(form2.pointer().state());
        form2.PushButton5->click();
        clickedDuringExport = true;
    });
    form2.PushButton5->click();
    EXPECT_TRUE(clickedDuringExport);
    EXPECT_EQ(pointerDuringExport, std::vector<int>{app::PointerBusy});
    EXPECT_EQ(dialogs.saveDialogs.size(), 1u);
    EXPECT_EQ(dialogs.texts(), QStringList{"Done."});
    EXPECT_EQ(files.listing(), "first.txt");
    EXPECT_EQ(form2.pointer().state(), app::PointerDefault);
}

TEST_F(Windows, ClosingAWindowDuringAnExportEndsItWithoutAFile) {
    ui::Form2& form2 = tableList();
    form2.PushButton8->click();
    test::writeFile(files.file("report.txt"), "earlier report");
    dialogs.fileNames.push_back(QString::fromStdString(files.file("report.txt")));
    dialogs.answers.push_back(true);
    QTimer::singleShot(0, &form2, [&] { form2.close(); });
    form2.PushButton5->click();
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(test::readFile(files.file("report.txt")), "earlier report");
    EXPECT_EQ(files.listing(), "report.txt");
}

// Stopped by a signal while it saves (the desktop session closing, Ctrl+C in its terminal), the
// program dies of the signal as it would by default, leaving nothing beside the report.
TEST_F(Windows, AStopSignalDuringASaveLeavesNoUnfinishedFile) {
    // The process forks where it stands, so the folder is the same on both sides.
    GTEST_FLAG_SET(death_test_style, "fast");
    test::sql("CREATE VIEW " + shop + ".orders_view AS SELECT * FROM " + shop + ".orders;");
    ui::Form2& form2 = tableList();
    form2.PushButton8->click();
    dialogs.fileNames.push_back(QString::fromStdString(files.file("report.txt")));
    // The view waits for the lock while the report is being written.
    const test::TableLock lock(shop, "orders");
    EXPECT_EXIT(
        {
            sys::dieCleanlyOnStopSignals(); // as the program's start does
            std::thread([&lock] {
                if (lock.waitForWaiter())
                    ::kill(::getpid(), SIGTERM);
            }).detach();
            form2.PushButton5->click();
            std::_Exit(3);
        },
        ::testing::KilledBySignal(SIGTERM), "");
    EXPECT_EQ(files.listing(), "");
}

TEST_F(Windows, AStoredLoginThatTakesLongShowsTheLoginWindowMeanwhile) {
    std::optional<test::SilentListener> silent(std::in_place);
    db::Login login = test::serverLogin(shop);
    login.port = std::to_string(silent->port());
    store(login);
    QElapsedTimer clock;
    qint64 shownAfter = -1;
    int pointerWhenShown = -1;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (shownAfter < 0 && form1 && form1->isVisible()) {
            shownAfter = clock.elapsed();
            pointerWhenShown = form1->pointer().state();
        }
        // The listener goes away, so the test of the login fails at once.
        if (shownAfter >= 0 || clock.elapsed() > 1000)
            silent.reset();
    });
    watch.start(20);
    clock.start();
    start();
    EXPECT_GE(shownAfter, 0);
    EXPECT_LE(shownAfter, 1000);
    EXPECT_EQ(pointerWhenShown, app::PointerBusy);
    EXPECT_TRUE(form1->isVisible());
    EXPECT_EQ(form1->Text5->text(), QString::fromStdString(login.port));
    EXPECT_EQ(form1->pointer().state(), app::PointerDefault);
    EXPECT_FALSE(form1->hasForm2());
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(Windows, StoredValuesOfAnyLengthComeBackWhole) {
    const QString server(100008, u's');
    settings::WriteSetting(settings::MyServer, server);
    start();
    EXPECT_EQ(form1->Text1->text(), server);
    EXPECT_EQ(settings::ReadSetting(settings::MyServer), server);
    form1->Text1->setFocus();
    QTest::keyClick(form1->Text1, Qt::Key_End);
    QTest::keyClicks(form1->Text1, "x");
    EXPECT_EQ(settings::ReadSetting(settings::MyServer), server + "x");
}

TEST_F(Windows, AnUntrustedOrDamagedStoreIsNamedOnceAndLeftAsItIs) {
    const db::Login login = test::serverLogin(shop);
    store(login);
    const std::string path = config.file("Kestrane.ini");
    const QString file = QString::fromStdString(path);
    // The stored login works, but someone else could have written it: its password is not used.
    ASSERT_EQ(::chmod(path.c_str(), 0620), 0);
    const std::string stored = test::readFile(path);
    start();
    EXPECT_TRUE(form1->isVisible());
    EXPECT_FALSE(form1->hasForm2());
    EXPECT_EQ(form1->Text2->text(), QString::fromStdString(login.user));
    EXPECT_EQ(form1->Text3->text(), "");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].icon, app::MessageIcon::Warning);
    EXPECT_EQ(dialogs.messages[0].title, "Orvendel");
    EXPECT_TRUE(dialogs.messages[0].text.startsWith("The settings file " + file +
                                                    " can be changed by other users"))
        << dialogs.messages[0].text.toStdString();
    form1->Text3->setFocus();
    QTest::keyClicks(form1->Text3, "typed");
    EXPECT_EQ(test::readFile(path), stored);

    const std::string damaged = "[Orvendel]\nMyServer=db.example\nnot a setting\n";
    test::writeFile(path, damaged);
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    dialogs.messages.clear();
    start();
    EXPECT_EQ(form1->Text1->text(), "localhost");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.startsWith("The settings file " + file +
                                                    " is damaged: line 3 cannot be read"))
        << dialogs.messages[0].text.toStdString();
    QTest::keyClicks(form1->Text1, "typed");
    EXPECT_EQ(test::readFile(path), damaged);
}

TEST_F(Windows, EnterAndAltNRunNextAndAltLettersNeverTypeIntoAField) {
    ui::Form1& form = start();
    const db::Login login = test::serverLogin(shop);
    typeLogin(form, login);
    const QString server = QString::fromStdString(login.server);
    form.Text1->setFocus();
    QTest::keyClick(form.Text1, Qt::Key_X, Qt::AltModifier); // no button answers Alt+X
    QTest::keyClick(form.Text1, Qt::Key_N, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.hasForm2() && form.form2().isVisible(); }));
    EXPECT_EQ(form.Text1->text(), server);
    EXPECT_EQ(settings::ReadSetting(settings::MyServer), server);

    form.form2().PushButton2->click();
    form.Text3->setFocus();
    QTest::keyClick(form.Text3, Qt::Key_Return);
    EXPECT_TRUE(form.form2().isVisible());
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(dialogs.messages.empty());
}

namespace {

// From here on this process cannot start a thread, as a user at the limit of RLIMIT_NPROC.
// Root is not held to the limit, so root becomes nobody first.
void refuseNewThreads() {
    constexpr uid_t nobody = 65534;
    if (::getuid() == 0 && (::setgid(nobody) != 0 || ::setuid(nobody) != 0))
        std::_Exit(EXIT_FAILURE);
    const rlimit one{1, 1};
    if (::setrlimit(RLIMIT_NPROC, &one) != 0)
        std::_Exit(EXIT_FAILURE);
}

} // namespace

// A resource limit that refuses new threads keeps the windows from repainting during the
// waits; it never ends the program.
TEST_F(Windows, WorkRunsOnTheWindowThreadWhenNoThreadCanStart) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ui::Form1& form = start();
    typeLogin(form, test::serverLogin(shop));
    // Qt paints with helper threads of its own and hangs when it cannot start them; here they
    // are started before the limit, as in a program that has painted its windows once.
    form.form2().grab();
    EXPECT_EXIT(
        {
            refuseNewThreads();
            form.PushButton5->click();
            form.PushButton3->click();
            const bool worked = dialogs.texts() == QStringList{"Connection successful."} &&
                                form.form2().isVisible() && form.form2().List1->count() == 3;
            // Straight out: the leak check at exit would need a thread of its own.
            std::_Exit(worked ? EXIT_SUCCESS : 3);
        },
        ::testing::ExitedWithCode(EXIT_SUCCESS), "");
}

// Work that never finishes, such as opening a pipe nobody reads, does not keep a closed
// program alive, nor does a half-written report outlive it.
TEST(Waits, ClosingEndsTheProgramEvenWhenTheWorkNeverFinishes) {
    // The process forks where it stands, so the folder is the same on both sides.
    GTEST_FLAG_SET(death_test_style, "fast");
    test::TempDir folder;
    const std::string pipe = folder.file("pipe");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EXIT(
        {
            const sys::TemporaryFile report(folder.file("report.txt"));
            QTimer::singleShot(100, [] { ui::waits().endProgram(); });
            ui::waits().run([&pipe] { return ::open(pipe.c_str(), O_WRONLY | O_CLOEXEC); });
            std::_Exit(3);
        },
        ::testing::ExitedWithCode(EXIT_FAILURE), "");
    EXPECT_EQ(folder.listing(), "pipe");
}

namespace {

// A dark scheme as desktop themes give it: light text on dark grey.
QPalette darkScheme() {
    QPalette dark(QColor(53, 53, 53), QColor(53, 53, 53));
    for (QPalette::ColorRole text : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        dark.setColor(text, QColor(235, 235, 235));
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    return dark;
}

// The spread of grey levels in an area of a control as shown: text that can be read stands
// out from its background.
int contrastIn(QWidget& control, const QRect& area) {
    const QImage image = control.grab().toImage();
    int darkest = 255;
    int lightest = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const int grey = qGray(image.pixel(x, y));
            darkest = std::min(darkest, grey);
            lightest = std::max(lightest, grey);
        }
    return lightest - darkest;
}

} // namespace

TEST_F(Windows, CaptionsStayReadableUnderADarkScheme) {
    const QPalette previous = QGuiApplication::palette();
    QGuiApplication::setPalette(darkScheme());
    ui::Form2& form2 = tableList();
    form1->show();
    constexpr int readable = 128;
    for (QLabel* label :
         {form1->Label1, form1->Label2, form1->Label3, form1->Label4, form1->Label9})
        EXPECT_GT(contrastIn(*label, label->rect()), readable) << label->text().toStdString();
    for (QPushButton* button :
         {form1->PushButton3, form1->PushButton4, form1->PushButton5, form2.PushButton2,
          form2.PushButton5, form2.PushButton8, form2.PushButton9})
        EXPECT_GT(contrastIn(*button, button->rect().adjusted(4, 4, -4, -4)), readable)
            << button->text().toStdString();
    for (QGroupBox* frame : {form1->Frame1, form2.Frame1})
        EXPECT_GT(contrastIn(*frame, {12, 1, 60, frame->fontMetrics().height() - 2}), readable)
            << frame->title().toStdString();
    // The boxes and the list keep the scheme.
    EXPECT_EQ(form1->Text1->palette().color(QPalette::Base), QColor(30, 30, 30));
    EXPECT_EQ(form2.List1->palette().color(QPalette::Text), QColor(235, 235, 235));
    QGuiApplication::setPalette(previous);
}

TEST_F(Windows, ALongTableNameCanBeReadWhole) {
    const QString name = "order_lines_kept_for_the_yearly_audit_of_every_warehouse_in_euro";
    ASSERT_EQ(name.size(), 64);
    test::sql("USE " + shop + "; CREATE TABLE `" + name.toStdString() + "` (id int);");
    QListWidget& list = *tableList().List1;
    const QList<QListWidgetItem*> found = list.findItems(name, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1);
    EXPECT_GT(list.horizontalScrollBar()->maximum(), 0);
    EXPECT_GE(list.visualItemRect(found[0]).width(), list.fontMetrics().horizontalAdvance(name));

    const auto tipAt = [&list](QPoint point) {
        QHelpEvent help(QEvent::ToolTip, point, list.viewport()->mapToGlobal(point));
        QApplication::sendEvent(list.viewport(), &help);
        return QToolTip::text();
    };
    EXPECT_EQ(tipAt(list.visualItemRect(found[0]).center()), name);
    EXPECT_EQ(tipAt({5, list.viewport()->height() - 3}),
              "Hold CTRL+Click to select multiple tables");
    // A name the list shows whole has no tip of its own.
    EXPECT_EQ(tipAt(list.visualItemRect(list.item(0)).center()),
              "Hold CTRL+Click to select multiple tables");
}

// From a stored login to two saved reports, the server sees one login.
TEST_F(Windows, AWholeSessionLogsInOnce) {
    // An account of its own, so that the logins of tests running beside this one do not count.
    test::sql("SET GLOBAL userstat = ON;"
              "DROP USER IF EXISTS 'win_once'@'localhost', 'win_once'@'127.0.0.1';"
              "CREATE USER 'win_once'@'localhost' IDENTIFIED BY 'once-pw';"
              "CREATE USER 'win_once'@'127.0.0.1' IDENTIFIED BY 'once-pw';"
              "GRANT SELECT ON " +
              shop + ".* TO 'win_once'@'localhost', 'win_once'@'127.0.0.1';");
    // Attempts, refused ones too; the server keeps counting across a DROP USER.
    const auto logins = [] {
        return std::stoi(
            test::queryValue("SELECT COALESCE((SELECT TOTAL_CONNECTIONS + DENIED_CONNECTIONS FROM "
                             "information_schema.USER_STATISTICS WHERE USER = 'win_once'), 0)"));
    };
    const int before = logins();
    db::Login login = test::serverLogin(shop);
    login.user = "win_once";
    login.password = "once-pw";
    store(login);
    start();
    ASSERT_TRUE(form1->hasForm2());
    ui::Form2& form2 = form1->form2();
    form2.PushButton8->click();
    for (const char* name : {"first.txt", "second.txt"}) {
        dialogs.fileNames.push_back(QString::fromStdString(files.file(name)));
        form2.PushButton5->click();
    }
    EXPECT_EQ(dialogs.texts(), (QStringList{"Done.", "Done."}));
    EXPECT_EQ(test::readFile(files.file("first.txt")), test::readFile(files.file("second.txt")));
    EXPECT_EQ(logins() - before, 1);
}

// A connection the server closed (KILL, its idle time-out) is opened again without a word;
// only when that fails too does the step report it, at its own line.
TEST_F(Windows, AConnectionTheServerClosedIsOpenedAgain) {
    ui::Form2& form2 = tableList();
    form2.PushButton8->click();
    // The session's connection is the only one in the test's database.
    const auto sessionId = [this] {
        return test::queryValue("SELECT ID FROM information_schema.PROCESSLIST WHERE DB = '" +
                                shop + "'");
    };
    const auto save = [&](const char* name) {
        dialogs.fileNames.push_back(QString::fromStdString(files.file(name)));
        form2.PushButton5->click();
        return ::access(files.file(name).c_str(), F_OK) == 0 &&
               test::readFile(files.file(name)).find("3) products\r\n") != std::string::npos;
    };
    std::string id = sessionId();
    test::sql("KILL " + id);
    EXPECT_TRUE(save("killed.txt"));
    EXPECT_NE(sessionId(), id);

    form1->session().connection().execute("SET SESSION wait_timeout = 1");
    id = sessionId();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_TRUE(save("idle.txt"));
    EXPECT_NE(sessionId(), id);

    form2.PushButton2->click();
    test::sql("KILL " + sessionId());
    form1->PushButton3->click();
    EXPECT_TRUE(form2.isVisible());
    EXPECT_EQ(items(*form2.List1), (QStringList{"customers", "orders", "products"}));
    EXPECT_EQ(dialogs.texts(), (QStringList{"Done.", "Done."}));

    // The database is gone: the connection cannot be opened again.
    test::sql("KILL " + sessionId() + "; DROP DATABASE " + shop);
    form2.PushButton8->click();
    EXPECT_FALSE(save("gone.txt"));
    ASSERT_EQ(dialogs.messages.size(), 3u);
    EXPECT_EQ(dialogs.messages[2].title, "Application Error");
    EXPECT_TRUE(dialogs.messages[2].text.contains(
        "\r\nin Orvendel2021/08/31.Form2.GenerateStructure at line 154\r"))
        << dialogs.messages[2].text.toStdString();
    EXPECT_TRUE(dialogs.messages[2].text.contains("Unknown database"))
        << dialogs.messages[2].text.toStdString();
    EXPECT_EQ(files.listing(), "idle.txt killed.txt");
}

// Without a display the program says so in one line; asked for help or its version it answers
// with or without one.
TEST(Program, HelpAndVersionWithoutADisplay) {
    const auto run = [](const QStringList& arguments) {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(name);
        program.setProcessEnvironment(environment);
        program.start(ORVENDEL_BINARY, arguments);
        EXPECT_TRUE(program.waitForFinished(10000));
        return std::tuple(program.exitCode(), QString::fromUtf8(program.readAllStandardOutput()),
                          QString::fromUtf8(program.readAllStandardError()));
    };
    const auto [versionStatus, version, versionErrors] = run({"--version"});
    EXPECT_EQ(versionStatus, 0);
    EXPECT_TRUE(version.startsWith("orvendel (Orvendel) " ORVENDEL_VERSION "\n"))
        << version.toStdString();
    EXPECT_TRUE(version.contains("orvendel-export")) << version.toStdString();
    EXPECT_EQ(versionErrors, "");
    const auto [helpStatus, help, helpErrors] = run({"--help"});
    EXPECT_EQ(helpStatus, 0);
    EXPECT_TRUE(help.startsWith("Usage: orvendel [--help] [--version]\n")) << help.toStdString();
    EXPECT_TRUE(help.contains("orvendel-export")) << help.toStdString();
    const auto [status, out, errors] = run({});
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(errors.count('\n'), 1) << errors.toStdString();
    EXPECT_TRUE(errors.contains("orvendel-export")) << errors.toStdString();
}
