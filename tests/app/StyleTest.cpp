#include "app/Style.h"
#include "app/Dialogs.h"
#include "app/ErrorReport.h"
#include "support/FakeDialogs.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace orv;

namespace {

// Designed white, as both windows are: the window, its frame, labels and buttons.
void paintWhite(QWidget& widget) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::Button, Qt::white);
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

struct DesignedWindow {
    DesignedWindow() {
        window.setGeometry(100, 100, 400, 300);
        paintWhite(window);
        frame = new QGroupBox("Frame1", &window);
        frame->setGeometry(10, 10, 380, 200);
        paintWhite(*frame);
        label = new QLabel("Server:", frame);
        label->setGeometry(10, 30, 120, 30);
        paintWhite(*label);
        text = new QLineEdit(frame);
        text->setGeometry(140, 30, 200, 24);
        check = new QCheckBox("Check", frame);
        check->setGeometry(10, 70, 120, 24);
        paintWhite(*check);
        option = new QRadioButton("Option", frame);
        option->setGeometry(10, 100, 120, 24);
        paintWhite(*option);
        list = new QListWidget(frame);
        list->setGeometry(140, 70, 200, 100);
        button = new QPushButton("Next >", &window);
        button->setGeometry(10, 230, 160, 40);
        paintWhite(*button);
    }

    QWidget window;
    QGroupBox* frame;
    QLabel* label;
    QLineEdit* text;
    QCheckBox* check;
    QRadioButton* option;
    QListWidget* list;
    QPushButton* button;
};

QColor background(const QWidget& widget) {
    return widget.palette().color(widget.backgroundRole());
}

// The colour on screen at a point of a control, read from the rendered window.
QColor shownAt(QWidget& window, const QWidget& control, QPoint point) {
    const QImage image = window.grab().toImage();
    return image.pixelColor(control.mapTo(&window, point));
}

QString sourceFile(const char* relative) {
    return QFileInfo(QStringLiteral(__FILE__))
        .dir()
        .filePath(QStringLiteral("../../") + QString::fromUtf8(relative));
}

void writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(content), content.size());
}

const QByteArray redButtons = "QPushButton { background-color: rgb(200, 0, 0); border: none; }";
const QColor red(200, 0, 0);

} // namespace

TEST(StyleFiles, ApplicationFolderHoldsTheOptionalFiles) {
    const QString folder = app::applicationFolder();
    EXPECT_EQ(folder, QCoreApplication::applicationDirPath());
    EXPECT_FALSE(folder.endsWith('/'));
    EXPECT_EQ(app::skinFilePath(folder), folder + "/x/o.cjs");
    EXPECT_EQ(app::cursorFilePath(folder), folder + "/HAND-M.CUR");
}

TEST(FileExists, TrueExactlyWhenAModificationTimeCanBeRead) {
    QTemporaryDir folder;
    const QString file = folder.filePath("file.txt");
    writeFile(file, "x");
    EXPECT_TRUE(app::FileExists(file));
    EXPECT_TRUE(app::FileExists(folder.path()));
    EXPECT_FALSE(app::FileExists(folder.filePath("missing.txt")));
    EXPECT_FALSE(app::FileExists(folder.filePath("missing/deeper/file.txt")));
    EXPECT_FALSE(app::FileExists(file + "/below-a-file"));
    EXPECT_FALSE(app::FileExists(""));
    EXPECT_FALSE(app::FileExists(QString::fromUtf8("nul\0inside", 10)));
    ASSERT_TRUE(QFile::link(folder.filePath("gone"), folder.filePath("dangling")));
    EXPECT_FALSE(app::FileExists(folder.filePath("dangling")));
}

TEST(Title, ProductNameWithoutBlankIsTheTitle) {
    EXPECT_EQ(app::applicationTitleFor("Orvendel"), "Orvendel");
    app::setApplicationTitleText("something else");
    app::SetApplicationTitle();
    EXPECT_EQ(app::applicationTitle(), "Orvendel");
}

TEST(Title, ShortNamesLoseExactlyTheirLastWord) {
    EXPECT_EQ(app::applicationTitleFor("Orvendel Structure Exporter"), "Orvendel Structure");
    const QString fiveWords = "Kestrane Orvendel Table Structure Tool";
    ASSERT_EQ(fiveWords.size(), 38);
    EXPECT_EQ(app::applicationTitleFor(fiveWords), "Kestrane Orvendel Table Structure");
    const QString forty = "Kestrane Orvendel Table Structure Report";
    ASSERT_EQ(forty.size(), 40);
    EXPECT_EQ(app::applicationTitleFor(forty), "Kestrane Orvendel Table Structure");
    EXPECT_EQ(app::applicationTitleFor("Trailing blank "), "Trailing blank");
}

TEST(Title, LongNamesAreCutWordByWordUntilFortyCharactersRemain) {
    const QString name = "Kestrane Orvendel MySQL Table Structure Report Writer";
    ASSERT_EQ(name.size(), 53);
    EXPECT_EQ(app::applicationTitleFor(name), "Kestrane Orvendel MySQL Table Structure");

    const QString fortyOne = "Kestrane Orvendel Table Structure Reports";
    ASSERT_EQ(fortyOne.size(), 41);
    EXPECT_EQ(app::applicationTitleFor(fortyOne), "Kestrane Orvendel Table Structure");

    // Cut down to forty-one, then once more.
    EXPECT_EQ(app::applicationTitleFor(fortyOne + " Pro"), "Kestrane Orvendel Table Structure");
}

TEST(Title, NothingLeftToCutAtKeepsTheFirstFortyCharacters) {
    const QString word(45, 'W');
    EXPECT_EQ(app::applicationTitleFor(word), QString(40, 'W'));
    EXPECT_EQ(app::applicationTitleFor(word + " tail"), QString(40, 'W'));
    EXPECT_EQ(app::applicationTitleFor("Alpha " + word), "Alpha");
    EXPECT_EQ(app::applicationTitleFor(""), "");
}

TEST(StyleColours, WindowFramesLabelsCheckBoxesAndOptionsTakeTheButtonFace) {
    DesignedWindow designed;
    designed.window.show();
    const QColor face = app::buttonFaceColour();
    ASSERT_NE(face, QColor(Qt::white));
    const QColor textBase = designed.text->palette().color(QPalette::Base);
    const QColor listBase = designed.list->palette().color(QPalette::Base);

    app::ApplyWindowColours(designed.window);

    for (QWidget* coloured : std::initializer_list<QWidget*>{
             &designed.window, designed.frame, designed.label, designed.check, designed.option}) {
        EXPECT_EQ(background(*coloured), face) << coloured->metaObject()->className();
        EXPECT_TRUE(coloured->autoFillBackground());
    }
    EXPECT_EQ(designed.button->palette().color(QPalette::Button), QColor(Qt::white));
    EXPECT_EQ(designed.text->palette().color(QPalette::Base), textBase);
    EXPECT_EQ(designed.list->palette().color(QPalette::Base), listBase);

    EXPECT_EQ(shownAt(designed.window, *designed.label, {115, 25}), face);
    EXPECT_EQ(shownAt(designed.window, designed.window, {395, 5}), face);
}

TEST(StyleColours, FollowTheUsersButtonFace) {
    const QPalette previous = QGuiApplication::palette();
    QPalette theme = previous;
    theme.setColor(QPalette::Button, QColor(90, 110, 130));
    QGuiApplication::setPalette(theme);
    DesignedWindow designed;
    app::ApplyWindowColours(designed.window);
    QGuiApplication::setPalette(previous);

    EXPECT_EQ(background(designed.window), QColor(90, 110, 130));
    EXPECT_EQ(background(*designed.label), QColor(90, 110, 130));
}

TEST(Skin, AbsentFileLeavesTheLoginWindowAsDesigned) {
    QTemporaryDir folder;
    ASSERT_TRUE(QDir(folder.path()).mkdir("x"));
    DesignedWindow designed;
    designed.window.show();
    app::SkinFramework skin;

    app::ApplySkin(designed.window, skin, folder.path());

    EXPECT_EQ(background(designed.window), QColor(Qt::white));
    EXPECT_EQ(background(*designed.frame), QColor(Qt::white));
    EXPECT_EQ(background(*designed.label), QColor(Qt::white));
    EXPECT_TRUE(designed.window.styleSheet().isEmpty());
    EXPECT_TRUE(skin.styleSheet().isEmpty());
}

TEST(Skin, HiddenFileOrFolderIsNotTaken) {
    QTemporaryDir hidden;
    writeFile(hidden.filePath("x/.o.cjs"), redButtons);
    QTemporaryDir folderNamedLikeTheSkin;
    ASSERT_TRUE(QDir().mkpath(folderNamedLikeTheSkin.filePath("x/o.cjs")));
    QTemporaryDir nothing;

    for (const QString& folder : {hidden.path(), folderNamedLikeTheSkin.path(), nothing.path()}) {
        DesignedWindow designed;
        designed.window.show();
        app::SkinFramework skin;
        app::ApplySkin(designed.window, skin, folder);
        EXPECT_EQ(background(designed.window), QColor(Qt::white)) << folder.toStdString();
        EXPECT_EQ(background(*designed.label), QColor(Qt::white));
        EXPECT_TRUE(designed.window.styleSheet().isEmpty());
        EXPECT_NE(shownAt(designed.window, *designed.button, {4, 20}), red);
    }
}

TEST(Skin, PresentFileColoursTheLoginWindowThenSkinsIt) {
    QTemporaryDir folder;
    writeFile(folder.filePath("x/o.cjs"), redButtons);
    DesignedWindow designed;
    designed.window.show();
    const QColor textBase = designed.text->palette().color(QPalette::Base);
    app::SkinFramework skin;

    app::ApplySkin(designed.window, skin, folder.path());

    const QColor face = app::buttonFaceColour();
    for (QWidget* coloured : std::initializer_list<QWidget*>{
             &designed.window, designed.frame, designed.label, designed.check, designed.option})
        EXPECT_EQ(background(*coloured), face) << coloured->metaObject()->className();
    EXPECT_EQ(designed.text->palette().color(QPalette::Base), textBase);

    EXPECT_EQ(skin.styleSheet(), redButtons);
    EXPECT_EQ(skin.options() & app::SkinApplyLook, app::SkinApplyLook);
    EXPECT_TRUE(skin.applyToDialogs());
    EXPECT_TRUE(skin.applyToMenus());
    EXPECT_EQ(designed.window.styleSheet(), redButtons);
    EXPECT_EQ(shownAt(designed.window, *designed.button, {4, 20}), red);
    EXPECT_EQ(shownAt(designed.window, *designed.label, {115, 25}), face);
}

TEST(Skin, ShippedSampleGivesTheLoginWindowItsLook) {
    QTemporaryDir folder;
    QFile sample(sourceFile("app/resources/sample-skin/o.cjs"));
    ASSERT_TRUE(sample.open(QIODevice::ReadOnly)) << sample.fileName().toStdString();
    writeFile(folder.filePath("x/o.cjs"), sample.readAll());
    DesignedWindow designed;
    designed.window.show();
    app::SkinFramework skin;

    app::ApplySkin(designed.window, skin, folder.path());

    EXPECT_EQ(shownAt(designed.window, *designed.button, {6, 20}), QColor(0x2f, 0x5d, 0x8a));
}

TEST(Skin, UnreadableSkinReachesTheCallersTrapAfterTheColours) {
    QTemporaryDir folder;
    ASSERT_TRUE(QDir(folder.path()).mkdir("x"));
    // An ordinary file by its directory entry whose reading fails, also for root.
    ASSERT_TRUE(QFile::link("/proc/self/mem", folder.filePath("x/o.cjs")));
    DesignedWindow designed;
    app::SkinFramework skin;
    test::FakeDialogs dialogs;
    app::ErrorTrap trap(dialogs, &designed.window, app::errorLocation("Form1", "Form_Load"));

    EXPECT_FALSE(trap.run(100, [&] { app::ApplySkin(designed.window, skin, folder.path()); }));

    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.startsWith("Cannot load the skin"));
    EXPECT_TRUE(dialogs.messages[0].text.contains("Form_Load at line 100"));
    EXPECT_EQ(background(*designed.label), app::buttonFaceColour());
    EXPECT_TRUE(designed.window.styleSheet().isEmpty());
}
