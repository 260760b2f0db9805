#include "app/Style.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

using namespace orv;

namespace {

const QString sheet = "QWidget { background-color: rgb(10, 20, 30); }";

QString skinFile(const QTemporaryDir& folder, const QString& content) {
    const QString path = folder.filePath("o.cjs");
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content.toUtf8());
    return path;
}

} // namespace

TEST(SkinFramework, LoadsTheStyleSheetAsWritten) {
    QTemporaryDir folder;
    const QString text = QString::fromUtf8("/* Fjällräven */\n") + sheet;
    app::SkinFramework skin;
    skin.LoadSkin(skinFile(folder, text), QString());
    EXPECT_EQ(skin.styleSheet(), text);
}

TEST(SkinFramework, MissingOrFolderSkinThrows) {
    QTemporaryDir folder;
    app::SkinFramework skin;
    EXPECT_THROW(skin.LoadSkin(folder.filePath("missing.cjs"), QString()), app::StyleError);
    EXPECT_THROW(skin.LoadSkin(folder.path(), QString()), app::StyleError);
    EXPECT_TRUE(skin.styleSheet().isEmpty());
}

TEST(SkinFramework, WindowsTakeTheLookOnlyWithTheLookOption) {
    QTemporaryDir folder;
    app::SkinFramework skin;
    skin.LoadSkin(skinFile(folder, sheet), QString());
    QWidget window;

    skin.ApplyWindow(&window);
    EXPECT_TRUE(window.styleSheet().isEmpty());

    skin.setOptions(skin.options() | app::SkinApplyLook);
    skin.ApplyWindow(&window);
    EXPECT_EQ(window.styleSheet(), sheet);
    window.ensurePolished();
    EXPECT_EQ(window.palette().color(window.backgroundRole()), QColor(10, 20, 30));
}

TEST(SkinFramework, DialogsAndMenusOpenedLaterFollowTheirProperties) {
    QTemporaryDir folder;
    app::SkinFramework skin;
    skin.LoadSkin(skinFile(folder, sheet), QString());
    skin.setOptions(app::SkinApplyLook);
    QWidget window;
    skin.ApplyWindow(&window);

    {
        QDialog dialog;
        QMenu menu;
        menu.addAction("Copy");
        dialog.show();
        menu.popup(QPoint(10, 10));
        EXPECT_TRUE(dialog.styleSheet().isEmpty());
        EXPECT_TRUE(menu.styleSheet().isEmpty());
    }

    skin.setApplyToDialogs(true);
    {
        QMessageBox box(QMessageBox::NoIcon, "Orvendel", "Done.");
        QMenu menu;
        menu.addAction("Copy");
        box.show();
        menu.popup(QPoint(10, 10));
        EXPECT_EQ(box.styleSheet(), sheet);
        EXPECT_TRUE(menu.styleSheet().isEmpty());
    }

    skin.setApplyToMenus(true);
    {
        QMenu menu;
        menu.addAction("Copy");
        menu.popup(QPoint(10, 10));
        EXPECT_EQ(menu.styleSheet(), sheet);

        // Neither a window that is not a dialog nor one styled on purpose.
        QWidget other;
        other.show();
        EXPECT_TRUE(other.styleSheet().isEmpty());
        QDialog styled;
        styled.setStyleSheet("QDialog { background: white; }");
        styled.show();
        EXPECT_EQ(styled.styleSheet(), "QDialog { background: white; }");
    }
}

TEST(SkinFramework, NothingIsSkinnedOnceTheEngineIsGone) {
    QTemporaryDir folder;
    QWidget window;
    {
        app::SkinFramework skin;
        skin.LoadSkin(skinFile(folder, sheet), QString());
        skin.setOptions(app::SkinApplyLook);
        skin.setApplyToDialogs(true);
        skin.ApplyWindow(&window);
    }
    QDialog dialog;
    dialog.show();
    EXPECT_TRUE(dialog.styleSheet().isEmpty());
}
