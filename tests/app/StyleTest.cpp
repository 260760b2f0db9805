#include "app/Style.h"
#include "app/Dialogs.h"
#include "app/ErrorReport.h"
#include "support/FakeDialogs.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWindow>

#include <gtest/gtest.h>

using namespace orv;

namespace {

// Both windows in small, white where they are designed white. The buttons ask for the hand; the
// window, the frame, a text box like Text1 and the list for the default pointer; a text box like
// Text5 and the label leave the pointer as it is.
struct Form {
    Form() {
        window.setGeometry(100, 100, 500, 300);
        frame->setGeometry(10, 10, 480, 200);
        label->setGeometry(10, 30, 85, 30);
        text1->setGeometry(100, 30, 200, 24);
        text5->setGeometry(310, 30, 100, 24);
        list->setGeometry(100, 60, 200, 80);
        list->addItems({"customers", "orders"});
        help->setGeometry(10, 150, 200, 30);
        next->setGeometry(10, 230, 480, 30);
        for (QWidget* white : std::initializer_list<QWidget*>{&window, frame, label, help, next}) {
            QPalette palette = white->palette();
            palette.setColor(QPalette::Window, Qt::white);
            palette.setColor(QPalette::Button, Qt::white);
            white->setPalette(palette);
            white->setAutoFillBackground(true);
        }
        for (QWidget* control : std::initializer_list<QWidget*>{&window, frame, text1, list})
            app::trackMouse(*control, pointer, app::PointerDefault);
        for (QWidget* button : {help, next})
            app::trackMouse(*button, pointer, app::PointerCustom);
        window.show();
    }

    // The colour on screen at a point of a control, read from the rendered window.
    QColor shownAt(const QWidget& control, QPoint point) {
        return window.grab().toImage().pixelColor(control.mapTo(&window, point));
    }

    void expectColoured(const QColor& colour) {
        for (const QWidget* coloured : std::initializer_list<QWidget*>{&window, frame, label})
            EXPECT_EQ(coloured->palette().color(coloured->backgroundRole()), colour)
                << coloured->metaObject()->className();
        EXPECT_EQ(shownAt(*label, {80, 25}), colour);
    }

    void expectTextBoxAndButtonUnchanged() const {
        EXPECT_EQ(text1->palette().color(QPalette::Base), textBase);
        EXPECT_EQ(next->palette().color(QPalette::Button), QColor(Qt::white));
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
    QGroupBox* frame = new QGroupBox("Frame1", &window);
    QLabel* label = new QLabel("Server:", frame);
    QLineEdit* text1 = new QLineEdit(frame);
    QLineEdit* text5 = new QLineEdit(frame);
    QListWidget* list = new QListWidget(frame);
    QPushButton* help = new QPushButton("Help", frame);
    QPushButton* next = new QPushButton("Next >", &window);
    const QColor textBase = text1->palette().color(QPalette::Base);
};

QString shipped(const char* resource) {
    return QFileInfo(QStringLiteral(__FILE__)).dir().filePath("../../app/resources/") + resource;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(content), content.size());
}

// The shipped hand: 32 by 32 with its hot spot on the fingertip.
bool showsHand(const QWidget& control) {
    const QCursor cursor = control.cursor();
    return cursor.shape() == Qt::BitmapCursor && cursor.hotSpot() == QPoint(5, 0) &&
           cursor.pixmap().size() == QSize(32, 32) &&
           cursor.pixmap().toImage().pixelColor(5, 0).alpha() == 255;
}

} // namespace

TEST(FileExists, TrueExactlyWhenAModificationTimeCanBeRead) {
    QTemporaryDir folder;
    const QString file = folder.filePath("file.txt");
    writeFile(file, "x");
    ASSERT_TRUE(QFile::link(folder.filePath("gone"), folder.filePath("dangling")));
    EXPECT_TRUE(app::FileExists(file));
    EXPECT_TRUE(app::FileExists(folder.path()));
    for (const QString& absent :
         {folder.filePath("missing.txt"), file + "/below-a-file", folder.filePath("dangling"),
          QString(), QString::fromUtf8("nul\0inside", 10)})
        EXPECT_FALSE(app::FileExists(absent)) << absent.toStdString();
}

TEST(Title, ProductNameIsCutWordByWordToFortyCharacters) {
    app::setApplicationTitleText("something else");
    app::SetApplicationTitle();
    EXPECT_EQ(app::applicationTitle(), "Orvendel");

    const QString forty = "Kestrane Orvendel Table Structure Report";
    const QString fortyOne = "Kestrane Orvendel Table Structure Reports";
    ASSERT_EQ(forty.size(), 40);
    ASSERT_EQ(fortyOne.size(), 41);
    const std::pair<QString, QString> cuts[] = {
        {"Orvendel", "Orvendel"},
        {forty, "Kestrane Orvendel Table Structure"},
        {fortyOne, "Kestrane Orvendel Table Structure"},
        {fortyOne + " Pro", "Kestrane Orvendel Table Structure"},
        {"Kestrane Orvendel MySQL Table Structure Report Writer",
         "Kestrane Orvendel MySQL Table Structure"},
        // Nothing left to cut at: the first forty characters.
        {QString(45, 'W'), QString(40, 'W')},
        {"Alpha " + QString(45, 'W'), "Alpha"},
    };
    for (const auto& [name, title] : cuts)
        EXPECT_EQ(app::applicationTitleFor(name), title) << name.toStdString();
}

// No file test here, and the user's colour scheme rather than a fixed colour.
TEST(Colours, SelectionWindowTakesTheUsersButtonFace) {
    const QPalette previous = QGuiApplication::palette();
    QPalette scheme = previous;
    scheme.setColor(QPalette::Button, QColor(90, 110, 130));
    QGuiApplication::setPalette(scheme);
    {
        Form form;
        app::ApplyWindowColours(form.window);
        form.expectColoured(QColor(90, 110, 130));
        form.expectTextBoxAndButtonUnchanged();
    }
    QGuiApplication::setPalette(previous);
}

TEST(Skin, LoginWindowStaysAsDesignedWithoutAnOrdinarySkinFile) {
    QTemporaryDir noFolder, emptyFolder, hidden, folderNamedLikeTheSkin;
    ASSERT_TRUE(QDir(emptyFolder.path()).mkdir("x"));
    // On Linux a hidden file is a dot file.
    writeFile(hidden.filePath("x/.o.cjs"), readFile(shipped("sample-skin/o.cjs")));
    ASSERT_TRUE(QDir().mkpath(folderNamedLikeTheSkin.filePath("x/o.cjs")));

    for (const QTemporaryDir* folder :
         {&noFolder, &emptyFolder, &hidden, &folderNamedLikeTheSkin}) {
        Form form;
        app::SkinFramework skin;
        app::ApplySkin(form.window, skin, folder->path());
        form.expectColoured(Qt::white);
        form.expectTextBoxAndButtonUnchanged();
        EXPECT_TRUE(form.window.styleSheet().isEmpty());
    }
}

TEST(Skin, PresentFileColoursTheLoginWindowThenSkinsIt) {
    QTemporaryDir folder;
    const QByteArray sample = readFile(shipped("sample-skin/o.cjs"));
    writeFile(folder.filePath("x/o.cjs"), sample);
    ASSERT_NE(app::buttonFaceColour(), QColor(Qt::white));
    Form form;
    {
        app::SkinFramework skin;
        app::ApplySkin(form.window, skin, folder.path());

        form.expectColoured(app::buttonFaceColour());
        EXPECT_EQ(form.window.styleSheet(), sample);
        EXPECT_EQ(form.shownAt(*form.next, {6, 15}), QColor(0x2f, 0x5d, 0x8a));

        // Message boxes opened later take the skin as well.
        QMessageBox box(QMessageBox::NoIcon, "Orvendel", "Done.");
        box.show();
        EXPECT_EQ(box.styleSheet(), sample);
    }
    // Nothing may be left watching for new windows once the engine is gone.
    QDialog later;
    later.show();
    EXPECT_TRUE(later.styleSheet().isEmpty());
}

// The colours come before the skin, so they are in place when the skin fails.
TEST(Skin, UnreadableSkinReachesTheCallersTrapAfterTheColours) {
    QTemporaryDir folder;
    ASSERT_TRUE(QDir(folder.path()).mkdir("x"));
    // An ordinary file by its directory entry whose reading fails, also for root.
    ASSERT_TRUE(QFile::link("/proc/self/mem", folder.filePath("x/o.cjs")));
    Form form;
    app::SkinFramework skin;
    test::FakeDialogs dialogs;
    app::ErrorTrap trap(dialogs, &form.window, app::errorLocation("Form1", "Form_Load"));

    EXPECT_FALSE(trap.run(100, [&] { app::ApplySkin(form.window, skin, folder.path()); }));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.startsWith("Cannot load the skin"));
    form.expectColoured(app::buttonFaceColour());
    form.expectTextBoxAndButtonUnchanged();
    EXPECT_TRUE(form.window.styleSheet().isEmpty());
}

TEST(Pointer, HandOverButtonsUntilTheMouseReachesAControlOfADefaultRow) {
    Form form;
    form.pointer.loadCustom(shipped("HAND-M.CUR"));
    EXPECT_EQ(form.text1->cursor().shape(), Qt::IBeamCursor);

    const QPoint secondItem = form.list->visualItemRect(form.list->item(1)).center();
    const struct {
        QWidget* control;
        QPoint point;
        app::PointerState state;
    } walk[] = {
        {form.next, {5, 5}, app::PointerCustom},
        {form.text5, {5, 5}, app::PointerCustom},
        {form.label, {5, 5}, app::PointerCustom},
        {form.text1, {5, 5}, app::PointerDefault},
        {form.help, {5, 5}, app::PointerCustom},
        {form.frame, {470, 100}, app::PointerDefault},
        {form.next, {5, 5}, app::PointerCustom},
        {form.list->viewport(), secondItem, app::PointerDefault},
        {form.help, {5, 5}, app::PointerCustom},
        {&form.window, {495, 295}, app::PointerDefault},
    };
    for (const auto& [control, point, state] : walk) {
        form.moveOver(*control, point);
        EXPECT_EQ(form.pointer.state(), state) << control->metaObject()->className();
        // The window's pointer shows over every control, the untracked ones too.
        if (state == app::PointerCustom) {
            for (QWidget* shown :
                 std::initializer_list<QWidget*>{form.next, form.text5, form.label})
                EXPECT_TRUE(showsHand(*shown)) << shown->metaObject()->className();
        }
    }
    EXPECT_EQ(form.text1->cursor().shape(), Qt::IBeamCursor);
    EXPECT_EQ(form.next->cursor().shape(), Qt::ArrowCursor);
}

TEST(Pointer, WithoutTheCursorFileTheHandStateShowsTheOrdinaryPointer) {
    Form form;
    form.moveOver(*form.next);
    EXPECT_EQ(form.pointer.state(), app::PointerCustom);
    EXPECT_EQ(form.next->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(form.text1->cursor().shape(), Qt::ArrowCursor);
}

TEST(Pointer, BusyHourglassIsNeverOverriddenAndControlsGetTheirOwnPointersBack) {
    Form form;
    form.pointer.loadCustom(shipped("HAND-M.CUR"));
    form.label->setCursor(Qt::WhatsThisCursor);
    QWidget messageBox(&form.window, Qt::Dialog);
    form.pointer.setState(app::PointerBusy);

    for (QWidget* control : std::initializer_list<QWidget*>{form.next, form.text1, form.text5,
                                                            form.frame, &form.window}) {
        form.moveOver(*control);
        EXPECT_EQ(form.pointer.state(), app::PointerBusy);
        for (QWidget* shown : std::initializer_list<QWidget*>{form.next, form.text1, form.label})
            EXPECT_EQ(shown->cursor().shape(), Qt::WaitCursor);
    }
    EXPECT_FALSE(messageBox.testAttribute(Qt::WA_SetCursor));

    form.pointer.setState(app::PointerDefault);
    EXPECT_EQ(form.label->cursor().shape(), Qt::WhatsThisCursor);
    EXPECT_EQ(form.text1->cursor().shape(), Qt::IBeamCursor);
    form.moveOver(*form.next);
    EXPECT_TRUE(showsHand(*form.next));
}

TEST(Pointer, DamagedCursorFileReachesTheCallersTrap) {
    const QByteArray hand = readFile(shipped("HAND-M.CUR"));
    QByteArray icon = hand;
    icon[2] = 1; // an icon, not a cursor
    QByteArray hotSpotOutside = hand;
    hotSpotOutside[10] = 40;

    QTemporaryDir folder;
    const QString path = folder.filePath("HAND-M.CUR");
    ASSERT_EQ(app::cursorFilePath(folder.path()), path);
    const auto expectReported = [&path] {
        ASSERT_TRUE(app::FileExists(path));
        QWidget window;
        app::WindowPointer pointer(window);
        test::FakeDialogs dialogs;
        app::ErrorTrap trap(dialogs, &window, app::errorLocation("Form2", "Form_Load"));
        EXPECT_FALSE(trap.run(108, [&] { pointer.loadCustom(path); }));
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_TRUE(dialogs.messages[0].text.startsWith("Invalid picture: " + path));
        EXPECT_FALSE(pointer.hasCustomImage());
    };
    for (const QByteArray& content :
         {QByteArray(), hand.left(21), hand.left(200), icon, hotSpotOutside}) {
        writeFile(path, content);
        expectReported();
    }
    // A folder of that name exists as well, but is no picture.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QDir().mkpath(path));
    expectReported();
}
