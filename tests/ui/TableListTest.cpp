#include "db/Session.h"
#include "support/FakeDialogs.h"
#include "support/TestServer.h"
#include "ui/MySQL.h"

#include <QListWidget>

#include <gtest/gtest.h>

using namespace orv;

namespace {

QStringList items(const QListWidget& list) {
    QStringList names;
    for (int i = 0; i < list.count(); ++i)
        names << list.item(i)->text();
    return names;
}

QList<int> selectedRows(const QListWidget& list) {
    QList<int> rows;
    for (int i = 0; i < list.count(); ++i)
        if (list.item(i)->isSelected())
            rows << i;
    return rows;
}

class TableList : public ::testing::Test {
protected:
    void SetUp() override { list.setSelectionMode(QAbstractItemView::ExtendedSelection); }
    QListWidget list;
    test::FakeDialogs dialogs;
};

} // namespace

TEST_F(TableList, LeavesOutSysTablesAndSelectsTheFirstListedOne) {
    test::recreateDatabase("tl_filter");
    // SHOW TABLES returns names in the server's (alphabetical) order: the sys tables come first.
    test::sql(
        "USE tl_filter; CREATE TABLE SYS_a (a int); CREATE TABLE Sysconfig (a int);"
        "CREATE TABLE sy (a int); CREATE TABLE system_log (a int); CREATE TABLE t_sys (a int);"
        "CREATE TABLE `zz mysys` (a int);");
    db::Session session(test::serverLogin("tl_filter"));
    ui::AddMySQLToList1(list, session, dialogs);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(items(list), (QStringList{"sy", "t_sys", "zz mysys"}));
    EXPECT_EQ(selectedRows(list), QList<int>{0});
    EXPECT_EQ(list.currentRow(), 0);
}

TEST_F(TableList, EmptyOrSysOnlyDatabasesGiveAnEmptyList) {
    test::recreateDatabase("tl_empty");
    list.addItem("left over");
    db::Session session(test::serverLogin("tl_empty"));
    ui::AddMySQLToList1(list, session, dialogs);
    EXPECT_EQ(list.count(), 0);
    EXPECT_TRUE(dialogs.messages.empty());

    test::sql("USE tl_empty; CREATE TABLE sys1 (a int); CREATE TABLE SYSTEM (a int);");
    ui::AddMySQLToList1(list, session, dialogs);
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.currentRow(), -1);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(TableList, OddNamesAreListedExactlyAndASecondCallDoesNotDuplicate) {
    test::recreateDatabase("tl_names");
    test::sql("USE tl_names; CREATE TABLE `a b` (a int); CREATE TABLE `it's` (a int);"
              "CREATE TABLE `we``ird` (a int); CREATE TABLE `say \"hi\"` (a int);"
              "CREATE TABLE `größe` (a int);");
    const QStringList expected{"a b", "größe", "it's", "say \"hi\"", "we`ird"};
    db::Session session(test::serverLogin("tl_names"));
    ui::AddMySQLToList1(list, session, dialogs);
    EXPECT_EQ(items(list), expected);
    list.item(3)->setSelected(true);
    ui::AddMySQLToList1(list, session, dialogs);
    EXPECT_EQ(items(list), expected);
    EXPECT_EQ(selectedRows(list), QList<int>{0});
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(TableList, AFailedLoginIsReportedStepByStepAndTheListIsCleared) {
    list.addItem("old");
    db::Login login = test::serverLogin("mysql");
    login.password = "wrong";
    db::Session session(login);
    ui::AddMySQLToList1(list, session, dialogs);
    EXPECT_EQ(list.count(), 0);
    QStringList lines;
    for (const QString& text : dialogs.texts())
        lines << text.section("\r\n", 1, 1).section("\r", 0, 0);
    const QString at = "in Orvendel2021/08/31.MySQL.AddMySQLToList1 at line ";
    EXPECT_EQ(lines, (QStringList{at + "106", at + "110", at + "112", at + "124", at + "126"}));
    EXPECT_TRUE(dialogs.messages.at(0).text.contains("Access denied for user 'orvendel'"));
    EXPECT_TRUE(dialogs.messages.at(1).text.startsWith(
        "Operation is not allowed when the object is closed.\r\n"));
}
