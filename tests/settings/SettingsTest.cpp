#include "settings/Settings.h"

#include <QCoreApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace orv::settings;

namespace {

// Every test gets a store of its own in a fresh folder, away from the real one.
class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home_.path()));
    }

    void writeStore(const QByteArray& content) const {
        QFile file(path_);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(content), content.size());
    }

    // What the disk holds, read without Qt's settings code and its in-memory cache.
    QByteArray storeOnDisk() const {
        QFile file(path_);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir home_;
    const QString path_ = home_.filePath("Kestrane.ini");
    const QByteArray nativePath_ = QFile::encodeName(path_);
};

} // namespace

TEST_F(SettingsStore, KeysKeepTheirCaseInSectionOrvendelOfKestraneIni) {
    EXPECT_EQ(settingsFilePath(), path_);
    ASSERT_TRUE(WriteSetting(MyServer, "server"));
    ASSERT_TRUE(WriteSetting(MyUser, "user"));
    ASSERT_TRUE(WriteSetting(MyPassword, "secret"));
    ASSERT_TRUE(WriteSetting(MyDatabase, "shop"));
    ASSERT_TRUE(WriteSetting(MyPort, "3307"));
    EXPECT_EQ(storeOnDisk(), "[Orvendel]\nMyDatabase=shop\nMyPassword=secret\nMyPort=3307\n"
                             "MyServer=server\nMyUser=user\n");
    EXPECT_EQ(ReadSetting("myserver", "other key"), "other key");
    EXPECT_EQ(ReadSetting(MyServer), "server");
}

TEST_F(SettingsStore, ValuesRoundTripExactly) {
    // Each would come back altered, or as a list or variant, if written unescaped.
    const QString values[] = {
        "  leading and trailing blanks  ",
        "semi;colon=equals",
        "\"double\" and 'single' quotes",
        QString::fromUtf8("Pässwörd \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x94\x91"),
        "a, b, c",
        "@Variant(not a variant)",
        "back\\slash #hash [section]",
        "line\nbreak\r\ttab",
        "",
    };
    for (const QString& value : values) {
        ASSERT_TRUE(WriteSetting(MyPassword, value)) << value.toStdString();
        EXPECT_EQ(ReadSetting(MyPassword, "unused"), value);
    }
}

TEST_F(SettingsStore, KeysNeverWrittenGiveTheDefaultAndReadingCreatesNoFile) {
    EXPECT_EQ(ReadSetting(MyServer, "localhost"), "localhost");
    EXPECT_EQ(ReadSetting(MyUser), "");
    EXPECT_FALSE(QFile::exists(path_));

    // An emptied box stores the empty text; the default is only for keys never written.
    ASSERT_TRUE(WriteSetting(MyPort, ""));
    EXPECT_EQ(ReadSetting(MyPort, "3306"), "");
}

TEST_F(SettingsStore, EveryKeystrokeIsOnDiskBeforeTheNext) {
    QLineEdit box;
    QList<QByteArray> onDisk;
    QObject::connect(&box, &QLineEdit::textChanged, &box, [&](const QString& text) {
        EXPECT_TRUE(WriteSetting(MyPassword, text));
        const QByteArray content = storeOnDisk();
        const qsizetype start = content.indexOf("MyPassword=");
        onDisk << (start < 0 ? QByteArray("<missing>") : content.mid(start + 11).split('\n')[0]);
    });
    const auto type = [&box](Qt::Key key, const QString& text = {}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QCoreApplication::sendEvent(&box, &press);
    };

    type(Qt::Key_A, "a");
    type(Qt::Key_B, "b");
    type(Qt::Key_C, "c");
    type(Qt::Key_Backspace);
    box.selectAll();
    type(Qt::Key_Delete);

    EXPECT_EQ(onDisk, (QList<QByteArray>{"a", "ab", "abc", "ab", ""}));
}

TEST_F(SettingsStore, FileIsOwnerOnlyAlsoWhenItExistedWider) {
    const auto mode = [this] {
        struct stat info {};
        EXPECT_EQ(::stat(nativePath_.constData(), &info), 0);
        return info.st_mode & 07777;
    };
    ASSERT_TRUE(WriteSetting(MyPassword, "secret"));
    EXPECT_EQ(mode(), 0600u);

    for (const mode_t earlier : {0644, 0777, 0400}) {
        writeStore("[Other]\nKey=kept\n");
        ASSERT_EQ(::chmod(nativePath_.constData(), earlier), 0);
        ASSERT_TRUE(WriteSetting(MyPassword, "secret"));
        EXPECT_EQ(mode(), 0600u) << "was " << std::oct << earlier;
        EXPECT_EQ(storeOnDisk(), "[Orvendel]\nMyPassword=secret\n\n[Other]\nKey=kept\n");
    }
}

TEST_F(SettingsStore, DamagedFileGivesTheDefaultsAndIsRepairedByTheNextWrite) {
    const QByteArray damaged[] = {
        QByteArrayLiteral("\xff\xfe\0\x01[Orvendel]\x80\nMyServer\x1b=\xc3("),
        "[Orvendel\nMyServer=half a section header\n",
        "[Orvendel]\nMyServer=a, b\n",
        "[Orvendel]\nMyServer=@ByteArray(not text)\n",
    };
    for (const QByteArray& content : damaged) {
        writeStore(content);
        EXPECT_EQ(ReadSetting(MyServer, "localhost"), "localhost") << content.data();
        EXPECT_EQ(ReadSetting(MyPort, "3306"), "3306");

        ASSERT_TRUE(WriteSetting(MyServer, "repaired"));
        EXPECT_EQ(ReadSetting(MyServer, "localhost"), "repaired");
    }
}

TEST_F(SettingsStore, NoUsableFileGivesTheDefaultsAndFailedWrites) {
    const auto expectUnusable = [](const char* what) {
        EXPECT_EQ(ReadSetting(MyServer, "localhost"), "localhost") << what;
        EXPECT_FALSE(WriteSetting(MyServer, "x")) << what;
    };
    ASSERT_EQ(::mkdir(nativePath_.constData(), 0700), 0);
    expectUnusable("a folder");
    ASSERT_EQ(::remove(nativePath_.constData()), 0);
    // Opening a pipe for reading would wait for a writer forever.
    ASSERT_EQ(::mkfifo(nativePath_.constData(), 0600), 0);
    expectUnusable("a pipe");
    qputenv("XDG_CONFIG_HOME", nativePath_ + "/config");
    expectUnusable("a folder below a pipe");
}

// A file size limit fails a write the way a full disk does, also for root.
TEST_F(SettingsStore, FailedWriteIsReportedAndLeavesTheFileAsItWas) {
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    for (const QByteArray before :
         {"[Orvendel]\nMyServer=old\n", "[Orvendel\nMyServer=damaged\n"}) {
        writeStore(before);
        rlimit limited = previous;
        limited.rlim_cur = 10;
        ::setrlimit(RLIMIT_FSIZE, &limited);
        EXPECT_FALSE(WriteSetting(MyServer, "a new value"));
        ::setrlimit(RLIMIT_FSIZE, &previous);
        EXPECT_EQ(storeOnDisk(), before);
    }
    std::signal(SIGXFSZ, previousHandler);
}

// What is on disk stays the truth after a failed write: later reads and writes see it.
TEST_F(SettingsStore, AFailedWriteChangesNothingThatLaterReadsSee) {
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    writeStore("[Orvendel]\nMyServer=old\nMyPort=3411\n");
    rlimit limited = previous;
    limited.rlim_cur = 10;
    ::setrlimit(RLIMIT_FSIZE, &limited);
    EXPECT_FALSE(WriteSetting(MyServer, "a new value"));
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(ReadSetting(MyServer), "old");
    EXPECT_EQ(ReadSetting(MyPort, "3306"), "3411");
    EXPECT_TRUE(WriteSetting(MyUser, "u"));
    EXPECT_EQ(ReadSetting(MyPort, "3306"), "3411");
    EXPECT_EQ(ReadSetting(MyServer), "old");
    EXPECT_TRUE(storeOnDisk().contains("MyPort=3411"));
}
