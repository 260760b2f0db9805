#include "db/Session.h"
#include "report/StructureExport.h"
#include "support/FakeDialogs.h"
#include "support/Files.h"
#include "support/TestServer.h"
#include "ui/GenerateStructure.h"
#include "ui/MySQL.h"
#include "ui/Waits.h"

#include <QListWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <fstream>

using namespace orv;

namespace {

class Export : public ::testing::Test {
protected:
    void SetUp() override { list.setSelectionMode(QAbstractItemView::ExtendedSelection); }

    void fill(const QStringList& names, const QList<int>& selected) {
        list.clear();
        for (const QString& name : names)
            ui::addTable(list, name.toStdString());
        for (int row : selected)
            list.item(row)->setSelected(true);
    }

    bool run(const std::string& path, const db::Login& login) {
        db::Session session(login);
        return ui::GenerateStructure(list, session, QString::fromStdString(path), dialogs,
                                     [this](bool busy) { busyStates.push_back(busy); });
    }

    QStringList errorLines() const {
        QStringList lines;
        for (const auto& m : dialogs.messages)
            if (m.title == "Application Error")
                lines << m.text.section("\r\n", 1, 1).section("\r", 0, 0);
        return lines;
    }

    QListWidget list;
    test::FakeDialogs dialogs;
    test::TempDir dir;
    std::vector<bool> busyStates;
};

const QString at = "in Orvendel2021/08/31.Form2.GenerateStructure at line ";

} // namespace

TEST_F(Export, EveryColumnTypeMatchesTheGoldenReport) {
    test::recreateDatabase("rep_types");
    test::sql("USE rep_types;\n" +
              test::readFile(std::string(ORVENDEL_TEST_SOURCE_DIR) + "/report/all-types.sql"));
    fill({"types_latin1", "types_utf8mb4"}, {0, 1});
    ASSERT_TRUE(run(dir.file("out.txt"), test::serverLogin("rep_types")));
    EXPECT_EQ(dialogs.texts(), QStringList{"Done."});
    EXPECT_EQ(dialogs.messages[0].title, "Orvendel");
    EXPECT_EQ(test::readFile(dir.file("out.txt")), test::readFile(test::golden("all-types.txt")));
    EXPECT_EQ(busyStates, (std::vector<bool>{true, false}));
    EXPECT_EQ(dir.listing(), "out.txt");
}

TEST_F(Export, OnlySelectedTablesInListOrderWithOddNames) {
    test::recreateDatabase("rep_names");
    test::sql("USE rep_names; CREATE TABLE zeta (a int); CREATE TABLE `we``ird` (`x y` char(3));"
              "CREATE TABLE alpha (a int); CREATE TABLE `größe` (`maß` varchar(7));");
    fill({"zeta", "we`ird", "alpha", "größe"}, {3, 1});
    run(dir.file("names.txt"), test::serverLogin("rep_names"));
    EXPECT_EQ(dialogs.texts(), QStringList{"Done."});
    const std::string expected =
        " Printing From 127.0.0.1\r\n\r\nPrinting Table Structures:\r\n1) we`ird\r\n2) größe\r\n"
        "\r\n\r\nTable Name : we`ird    Total Fields : 1\r\n\r\n"
        "Field Name                DataType\r\n__________                ________\r\n"
        " x y                       Char(3)     \r\n\r\n\r\n"
        "Table Name : größe    Total Fields : 1\r\n\r\n"
        "Field Name                DataType\r\n__________                ________\r\n"
        " maß                       Varchar(7)  \r\n\r\n\r\n\r\n";
    EXPECT_EQ(test::readFile(dir.file("names.txt")), expected);
}

TEST_F(Export, NothingSelectedWritesNothing) {
    fill({"a", "b"}, {});
    list.setCurrentRow(0, QItemSelectionModel::NoUpdate);
    run(dir.file("none.txt"), test::serverLogin("mysql"));
    EXPECT_EQ(dialogs.texts(), QStringList{"Select The Table To Print The Structure"});
    EXPECT_TRUE(busyStates.empty());
    EXPECT_EQ(dir.listing(), "");
}

TEST_F(Export, AnUnreadableTableIsReportedAndTheRestIsWritten) {
    test::recreateDatabase("rep_missing");
    test::sql("USE rep_missing; CREATE TABLE present (id int);");
    fill({"gone", "present"}, {0, 1});
    run(dir.file("partial.txt"), test::serverLogin("rep_missing"));
    EXPECT_EQ(errorLines(), QStringList{at + "154"});
    EXPECT_TRUE(dialogs.messages.at(0).text.contains("Table 'rep_missing.gone' doesn't exist"));
    EXPECT_EQ(dialogs.messages.back().text, "Done, but 1 of 2 tables could not be read.");
    const std::string text = test::readFile(dir.file("partial.txt"));
    EXPECT_NE(text.find("Table Name : gone    Total Fields : 0\r\n\r\nField Name                "
                        "DataType\r\n__________                ________\r\n\r\n\r\nTable Name : "
                        "present    Total Fields : 1\r\n"),
              std::string::npos);
}

TEST_F(Export, FatalFailuresAreReportedOnceAndLeaveNoFile) {
    test::recreateDatabase("rep_fail");
    test::sql("USE rep_fail; CREATE TABLE t (id int);");
    fill({"t"}, {0});

    run("/nonexistent-folder/report.txt", test::serverLogin("rep_fail"));
    EXPECT_EQ(errorLines(), QStringList{at + "118"});
    EXPECT_TRUE(dialogs.messages.at(0).text.startsWith(
        "Cannot create the file /nonexistent-folder/report.txt: No such file or directory\r\n"));
    EXPECT_EQ(dialogs.messages.size(), 1u);

    // A refused login leaves the earlier report as it was.
    dialogs.messages.clear();
    test::writeFile(dir.file("report.txt"), "earlier report");
    db::Login wrong = test::serverLogin("rep_fail");
    wrong.password += "-wrong";
    run(dir.file("report.txt"), wrong);
    EXPECT_EQ(errorLines(), QStringList{at + "142"});
    EXPECT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(test::readFile(dir.file("report.txt")), "earlier report");
    EXPECT_EQ(dir.listing(), "report.txt");

    // A device that takes no data: the write fails when the report is completed.
    dialogs.messages.clear();
    run("/dev/full", test::serverLogin("rep_fail"));
    EXPECT_EQ(errorLines(), QStringList{at + "206"});
    EXPECT_TRUE(dialogs.messages.at(0).text.contains("No space left on device"));
    EXPECT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(busyStates, (std::vector<bool>{true, false, true, false, true, false}));
}

TEST_F(Export, AReadOnlyEarlierFileIsReplacedWhenTheReportIsComplete) {
    test::recreateDatabase("rep_ro");
    test::sql("USE rep_ro; CREATE TABLE t (id int);");
    fill({"t"}, {0});
    test::writeFile(dir.file("ro.txt"), "old");
    ::chmod(dir.file("ro.txt").c_str(), 0444);
    run(dir.file("ro.txt"), test::serverLogin("rep_ro"));
    EXPECT_EQ(dialogs.texts(), QStringList{"Done."});
    EXPECT_NE(test::readFile(dir.file("ro.txt")).find("Table Name : t    Total Fields : 1"),
              std::string::npos);
}

TEST_F(Export, TheListMayChangeButASecondExportCannotStart) {
    test::recreateDatabase("rep_busy");
    test::sql("USE rep_busy; CREATE TABLE one (a int, b int); CREATE TABLE two (c int);");
    fill({"one", "two"}, {0, 1});
    bool secondStarted = true;
    QTimer::singleShot(0, &list, [&] {
        list.clear();
        secondStarted = run(dir.file("second.txt"), test::serverLogin("rep_busy"));
    });
    EXPECT_TRUE(run(dir.file("first.txt"), test::serverLogin("rep_busy")));
    EXPECT_FALSE(secondStarted);
    EXPECT_FALSE(ui::waits().busy());
    EXPECT_EQ(dialogs.texts(), QStringList{"Done."});
    const std::string text = test::readFile(dir.file("first.txt"));
    EXPECT_NE(text.find("1) one\r\n2) two\r\n"), std::string::npos);
    EXPECT_NE(text.find("Table Name : two    Total Fields : 1"), std::string::npos);
    EXPECT_EQ(dir.listing(), "first.txt");
}
