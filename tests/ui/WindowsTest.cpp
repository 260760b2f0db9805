#include "db/Connection.h"
#include "settings/Settings.h"
#include "support/FakeDialogs.h"
#include "support/Files.h"
#include "support/TestServer.h"
#include "ui/Form1.h"
#include "ui/Form2.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace orv;

namespace {

const QString failureText =
    "Could not connect. Please check with your administrator. Make sure you allowed to connect "
    "to your database remotely and not just through web-based control panels.";

class Windows : public ::testing::Test {
protected:
    void SetUp() override {
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
    EXPECT_EQ(form2.PushButton5->text(), "Save Results");
    EXPECT_FALSE(form2.PushButton5->isDefault());
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
    test::sql("USE " + shop + "; CREATE TABLE invoices (id int);");
    form1->PushButton3->click();
    EXPECT_TRUE(form2.isVisible());
    EXPECT_EQ(items(*form2.List1), (QStringList{"customers", "invoices", "orders", "products"}));
    EXPECT_EQ(selectedCount(*form2.List1), 1);
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
