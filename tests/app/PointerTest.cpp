#include "app/ErrorReport.h"
#include "app/Style.h"
#include "support/FakeDialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWindow>

#include <gtest/gtest.h>

using namespace orv;

namespace {

QString shippedCursor() {
    return QFileInfo(QStringLiteral(__FILE__)).dir().filePath("../../app/resources/HAND-M.CUR");
}

QByteArray shippedCursorBytes() {
    QFile file(shippedCursor());
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
    return file.readAll();
}

// A login window as far as pointers go: tracked buttons ask for the hand; the window, the frame
// and four text boxes for the default; the fifth box and the labels are not tracked.
struct LoginWindow {
    LoginWindow() {
        window.setGeometry(100, 100, 500, 300);
        frame = new QGroupBox("MySQL Login", &window);
        frame->setGeometry(10, 10, 480, 200);
        label = new QLabel("Server:", frame);
        label->setGeometry(10, 30, 80, 24);
        text1 = new QLineEdit(frame);
        text1->setGeometry(100, 30, 200, 24);
        text5 = new QLineEdit(frame);
        text5->setGeometry(310, 30, 100, 24);
        help = new QPushButton("Help", frame);
        help->setGeometry(10, 150, 200, 30);
        next = new QPushButton("Next >", &window);
        next->setGeometry(10, 230, 480, 30);
        for (QWidget* control : std::initializer_list<QWidget*>{&window, frame, text1})
            app::trackMouse(*control, pointer, app::PointerDefault);
        for (QWidget* button : std::initializer_list<QWidget*>{help, next})
            app::trackMouse(*button, pointer, app::PointerCustom);
        window.show();
    }

    // The mouse moves onto `point` of `control`, delivered through the window as the platform
    // delivers it.
    void moveOver(QWidget& control, QPoint point = {5, 5}) {
        const QPointF local = control.mapTo(&window, point);
        QMouseEvent move(QEvent::MouseMove, local, local, window.mapToGlobal(local), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.windowHandle(), &move);
    }

    QWidget window;
    app::WindowPointer pointer{window};
    QGroupBox* frame;
    QLabel* label;
    QLineEdit* text1;
    QLineEdit* text5;
    QPushButton* help;
    QPushButton* next;
};

bool showsHand(const QWidget& control) {
    const QCursor cursor = control.cursor();
    return cursor.shape() == Qt::BitmapCursor && cursor.hotSpot() == QPoint(5, 0) &&
           cursor.pixmap().size() == QSize(32, 32);
}

} // namespace

TEST(PointerCursorFile, ShippedHandLoadsWithItsHotSpotAtTheFingertip) {
    QWidget window;
    app::WindowPointer pointer(window);
    EXPECT_FALSE(pointer.hasCustomImage());
    pointer.loadCustom(shippedCursor());
    EXPECT_TRUE(pointer.hasCustomImage());
    EXPECT_EQ(pointer.state(), app::PointerDefault);
    EXPECT_EQ(window.cursor().shape(), Qt::ArrowCursor);

    pointer.setState(app::PointerCustom);
    ASSERT_TRUE(showsHand(window));
    const QImage hand = window.cursor().pixmap().toImage();
    EXPECT_EQ(hand.pixelColor(5, 0).alpha(), 255) << "the hot spot is on the finger";
    EXPECT_EQ(hand.pixelColor(31, 31).alpha(), 0);
}

TEST(PointerCursorFile, MissingFileGivesNoImageAndTheOrdinaryPointer) {
    QTemporaryDir folder;
    EXPECT_FALSE(app::FileExists(app::cursorFilePath(folder.path())));
    LoginWindow login;

    login.moveOver(*login.next);
    EXPECT_EQ(login.pointer.state(), app::PointerCustom);
    EXPECT_FALSE(login.pointer.hasCustomImage());
    EXPECT_EQ(login.next->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(login.text1->cursor().shape(), Qt::ArrowCursor);
}

TEST(PointerCursorFile, DamagedFileReachesTheCallersTrap) {
    const QByteArray shipped = shippedCursorBytes();
    QByteArray icon = shipped;
    icon[2] = 1; // an icon, not a cursor
    QByteArray hotSpotOutside = shipped;
    hotSpotOutside[10] = 40;
    QByteArray garbage;
    for (int i = 0; i < 300; ++i)
        garbage.append(char((i * 31 + 7) % 256));
    const QByteArray damaged[] = {
        QByteArray(), shipped.left(21), shipped.left(200), icon, hotSpotOutside, garbage,
    };

    QTemporaryDir folder;
    const QString path = app::cursorFilePath(folder.path());
    for (const QByteArray& content : damaged) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();
        ASSERT_TRUE(app::FileExists(path));

        QWidget window;
        app::WindowPointer pointer(window);
        test::FakeDialogs dialogs;
        app::ErrorTrap trap(dialogs, &window, app::errorLocation("Form2", "Form_Load"));
        EXPECT_FALSE(trap.run(108, [&] { pointer.loadCustom(path); }));
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_TRUE(dialogs.messages[0].text.startsWith("Invalid picture: " + path));
        EXPECT_FALSE(pointer.hasCustomImage());
    }
}

TEST(PointerCursorFile, FolderNamedLikeTheCursorExistsButIsNoPicture) {
    QTemporaryDir folder;
    const QString path = app::cursorFilePath(folder.path());
    ASSERT_TRUE(QDir().mkpath(path));
    EXPECT_TRUE(app::FileExists(path));
    QWidget window;
    app::WindowPointer pointer(window);
    EXPECT_THROW(pointer.loadCustom(path), app::StyleError);
}

TEST(Pointer, HandOverButtonsUntilAControlOfADefaultRow) {
    LoginWindow login;
    login.pointer.loadCustom(shippedCursor());
    EXPECT_EQ(login.text1->cursor().shape(), Qt::IBeamCursor);

    login.moveOver(*login.next);
    EXPECT_EQ(login.pointer.state(), app::PointerCustom);
    for (QWidget* control : std::initializer_list<QWidget*>{
             login.next, login.help, login.text1, login.text5, login.label, &login.window})
        EXPECT_TRUE(showsHand(*control)) << control->metaObject()->className();

    // The fifth text box and the labels have no say.
    login.moveOver(*login.text5);
    EXPECT_EQ(login.pointer.state(), app::PointerCustom);
    EXPECT_TRUE(showsHand(*login.text5));
    login.moveOver(*login.label);
    EXPECT_EQ(login.pointer.state(), app::PointerCustom);

    login.moveOver(*login.text1);
    EXPECT_EQ(login.pointer.state(), app::PointerDefault);
    EXPECT_EQ(login.text1->cursor().shape(), Qt::IBeamCursor);
    EXPECT_EQ(login.text5->cursor().shape(), Qt::IBeamCursor);
    EXPECT_EQ(login.next->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(login.window.cursor().shape(), Qt::ArrowCursor);

    login.moveOver(*login.help);
    EXPECT_EQ(login.pointer.state(), app::PointerCustom);
    login.moveOver(*login.frame, {470, 100});
    EXPECT_EQ(login.pointer.state(), app::PointerDefault);

    login.moveOver(*login.next);
    EXPECT_EQ(login.pointer.state(), app::PointerCustom);
    login.moveOver(login.window, {495, 295});
    EXPECT_EQ(login.pointer.state(), app::PointerDefault);
}

TEST(Pointer, ControlsGetTheirOwnPointersBack) {
    LoginWindow login;
    login.label->setCursor(Qt::WhatsThisCursor);
    login.pointer.setState(app::PointerCustom);
    EXPECT_EQ(login.label->cursor().shape(), Qt::ArrowCursor);
    login.pointer.setState(app::PointerBusy);
    EXPECT_EQ(login.label->cursor().shape(), Qt::WaitCursor);
    login.pointer.setState(app::PointerDefault);
    EXPECT_EQ(login.label->cursor().shape(), Qt::WhatsThisCursor);
    EXPECT_EQ(login.text1->cursor().shape(), Qt::IBeamCursor);
    EXPECT_FALSE(login.next->testAttribute(Qt::WA_SetCursor));
}

TEST(Pointer, BusyHourglassIsNeverOverridden) {
    LoginWindow login;
    login.pointer.loadCustom(shippedCursor());
    login.pointer.setState(app::PointerBusy);
    for (QWidget* control : std::initializer_list<QWidget*>{&login.window, login.frame, login.text1,
                                                            login.text5, login.next})
        EXPECT_EQ(control->cursor().shape(), Qt::WaitCursor);

    for (QWidget* control : std::initializer_list<QWidget*>{login.next, login.text1, login.help,
                                                            login.frame, &login.window}) {
        login.moveOver(*control);
        EXPECT_EQ(login.pointer.state(), app::PointerBusy);
        EXPECT_EQ(login.next->cursor().shape(), Qt::WaitCursor);
        EXPECT_EQ(login.text1->cursor().shape(), Qt::WaitCursor);
    }

    login.pointer.setState(app::PointerDefault);
    login.moveOver(*login.next);
    EXPECT_TRUE(showsHand(*login.next));
}

TEST(Pointer, MessageBoxesOfABusyWindowKeepTheirOwnPointer) {
    LoginWindow login;
    QWidget box(&login.window, Qt::Dialog);
    login.pointer.setState(app::PointerBusy);
    EXPECT_FALSE(box.testAttribute(Qt::WA_SetCursor));
}

TEST(Pointer, ListItemsCountAsTheList) {
    QWidget window;
    window.setGeometry(100, 100, 400, 300);
    app::WindowPointer pointer(window);
    auto* list = new QListWidget(&window);
    list->setGeometry(10, 10, 200, 200);
    list->addItems({"customers", "orders"});
    auto* button = new QPushButton("Select All", &window);
    button->setGeometry(220, 10, 150, 30);
    app::trackMouse(*list, pointer, app::PointerDefault);
    app::trackMouse(*button, pointer, app::PointerCustom);
    window.show();

    const auto moveOver = [&](QWidget& control, QPoint point) {
        const QPointF local = control.mapTo(&window, point);
        QMouseEvent move(QEvent::MouseMove, local, local, window.mapToGlobal(local), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.windowHandle(), &move);
    };
    moveOver(*button, {5, 5});
    EXPECT_EQ(pointer.state(), app::PointerCustom);
    moveOver(*list->viewport(), list->visualItemRect(list->item(1)).center());
    EXPECT_EQ(pointer.state(), app::PointerDefault);
    EXPECT_EQ(list->viewport()->cursor().shape(), Qt::ArrowCursor);
}
