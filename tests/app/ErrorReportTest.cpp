#include "app/ErrorReport.h"
#include "db/Error.h"
#include "support/FakeDialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QProxyStyle>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>

using namespace orv;

TEST(ErrorReport, TextTitleAndIconAreExact) {
    test::FakeDialogs dialogs;
    app::ShowErrorReport(dialogs, nullptr, "Boom", app::errorLocation("Form1", "PushButton3_Click"),
                         104);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text,
              "Boom\r\nin Orvendel2021/08/31.Form1.PushButton3_Click at line 104\r\r"
              "Please email screenshot of this message to support@kestrane.com");
    EXPECT_EQ(dialogs.messages[0].title, "Application Error");
    EXPECT_EQ(dialogs.messages[0].icon, app::MessageIcon::Warning);
}

TEST(ErrorReport, EmptyAndMultiLineDescriptionsAndLineZero) {
    const QString location = app::errorLocation("MySQL", "AddMySQLToList1");
    EXPECT_EQ(location, "in Orvendel2021/08/31.MySQL.AddMySQLToList1 ");
    EXPECT_EQ(app::errorReportText("", location, 0),
              "\r\nin Orvendel2021/08/31.MySQL.AddMySQLToList1 at line 0\r\r"
              "Please email screenshot of this message to support@kestrane.com");
    EXPECT_EQ(app::errorReportText("first\nsecond\r\nthird", location, 7).section("\r\n", 0, 1),
              "first\nsecond\r\nthird");
}

TEST(ErrorTrap, ReportsEachFailingStepAndGoesOn) {
    test::FakeDialogs dialogs;
    app::ErrorTrap trap(dialogs, nullptr, app::errorLocation("Form2", "GenerateStructure"));
    std::vector<int> ran;
    EXPECT_TRUE(trap.run(100, [&] { ran.push_back(100); }));
    EXPECT_FALSE(trap.run(102, [&] { throw Error("first failure"); }));
    EXPECT_TRUE(trap.run(104, [&] { ran.push_back(104); }));
    EXPECT_FALSE(trap.run(106, [&] { throw std::runtime_error("second failure"); }));
    EXPECT_FALSE(trap.run(108, [&] { throw 42; }));
    EXPECT_EQ(ran, (std::vector<int>{100, 104}));
    ASSERT_EQ(dialogs.messages.size(), 3u);
    EXPECT_TRUE(dialogs.messages[0].text.startsWith("first failure\r\nin Orvendel2021/08/31.Form2."
                                                    "GenerateStructure at line 102\r\r"));
    EXPECT_TRUE(dialogs.messages[1].text.contains("at line 106"));
    EXPECT_TRUE(dialogs.messages[2].text.startsWith("Unknown error\r\n"));
}

TEST(ErrorTrap, AFailingConditionCountsAsHeld) {
    test::FakeDialogs dialogs;
    app::ErrorTrap trap(dialogs, nullptr, app::errorLocation("Form1", "Form_Load"));
    EXPECT_TRUE(trap.holds(138, []() -> bool { throw Error("no"); }));
    EXPECT_FALSE(trap.holds(140, [] { return false; }));
    EXPECT_TRUE(trap.holds(142, [] { return true; }));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.contains("Form_Load at line 138"));
}

TEST(Dialogs, FilterTakesQtsForm) {
    EXPECT_EQ(app::qtFileFilter("Text Files (*.txt)|*.txt"), "Text Files (*.txt)");
    EXPECT_EQ(app::qtFileFilter("A (*.a)|*.a|B (*.b)|*.b"), "A (*.a);;B (*.b)");
}

// With the keyboard alone: Enter closes a box, also one whose details are behind a button.
TEST(Dialogs, EnterClosesAMessageWithDetails) {
    // KDE's order, where "Show Details..." comes first.
    struct KdeButtonOrder : QProxyStyle {
        int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                      QStyleHintReturn* data) const override {
            return hint == SH_DialogButtonLayout
                       ? QDialogButtonBox::KdeLayout
                       : QProxyStyle::styleHint(hint, option, widget, data);
        }
    };
    const QString style = QApplication::style()->name();
    QApplication::setStyle(new KdeButtonOrder);
    app::QtDialogs dialogs;
    bool closedByEnter = false;
    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        QApplication::setActiveWindow(box);
        QTest::keyClick(box->focusWidget() ? box->focusWidget() : box, Qt::Key_Return);
        closedByEnter = !box->isVisible();
        if (!closedByEnter)
            QTest::keyClick(box, Qt::Key_Escape);
    });
    dialogs.message(nullptr, "Could not connect.", "Orvendel", app::MessageIcon::None,
                    "Unknown database 'shop'");
    QApplication::setStyle(style);
    EXPECT_TRUE(closedByEnter);
}
