#include "settings/Settings.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace orv::settings;

namespace {

// Every test gets a store of its own in a fresh folder, away from the real one.
class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        previous_ = qgetenv("XDG_CONFIG_HOME");
        hadPrevious_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home_.path()));
    }
    void TearDown() override {
        if (hadPrevious_)
            qputenv("XDG_CONFIG_HOME", previous_);
        else
            qunsetenv("XDG_CONFIG_HOME");
    }

    QString home() const { return home_.path(); }
    QString storePath() const { return home_.filePath(QStringLiteral("Kestrane.ini")); }

    void writeStore(const QByteArray& content) const {
        QFile file(storePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(content), content.size());
    }

    // What the disk holds, read without Qt's settings code and its in-memory cache.
    QByteArray storeOnDisk() const {
        QFile file(storePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void setStoreMode(mode_t mode) const {
        ASSERT_EQ(::chmod(QFile::encodeName(storePath()).constData(), mode), 0);
    }

    unsigned storeMode() const {
        struct stat info {};
        EXPECT_EQ(::stat(QFile::encodeName(storePath()).constData(), &info), 0);
        return info.st_mode & 07777;
    }

private:
    QTemporaryDir home_;
    QByteArray previous_;
    bool hadPrevious_ = false;
};

void type(QLineEdit& box, Qt::Key key, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(&box, &press);
    QCoreApplication::sendEvent(&box, &release);
}

// A file size limit fails a write the way a full disk does, also for root.
bool writeWithFileSizeLimit(rlim_t limit, const QString& key, const QString& value) {
    auto* previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limited = previous;
    limited.rlim_cur = limit;
    ::setrlimit(RLIMIT_FSIZE, &limited);
    const bool written = WriteSetting(key, value);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    return written;
}

} // namespace

TEST_F(SettingsStore, LivesInQtsUserIniFileOfKestrane) {
    EXPECT_EQ(settingsFilePath(), storePath());
    EXPECT_EQ(QSettings(QSettings::IniFormat, QSettings::UserScope, "Kestrane").fileName(),
              storePath());

    ASSERT_TRUE(WriteSetting(MyServer, "db.example.org"));
    const QSettings qt(QSettings::IniFormat, QSettings::UserScope, "Kestrane");
    EXPECT_EQ(qt.value("Orvendel/MyServer").toString(), "db.example.org");
    EXPECT_TRUE(storeOnDisk().contains("[Orvendel]\nMyServer=db.example.org\n"));
}

TEST_F(SettingsStore, ValuesRoundTripExactly) {
    const QString values[] = {
        "  leading and trailing blanks  ",
        "semi;colon=equals",
        "\"double\" and 'single' quotes",
        QString::fromUtf8("Pässwörd \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x94\x91"),
        "a, b, c",
        "@Variant(not a variant)",
        "back\\slash #hash [section]",
        "line\nbreak\r\ttab",
        "true",
        "0042",
        "",
    };
    for (const QString& value : values) {
        ASSERT_TRUE(WriteSetting(MyPassword, value)) << value.toStdString();
        EXPECT_EQ(ReadSetting(MyPassword, "unused"), value);
    }
}

TEST_F(SettingsStore, KeysKeepTheirCaseAndSection) {
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

TEST_F(SettingsStore, KeysNeverWrittenGiveTheDefault) {
    EXPECT_EQ(ReadSetting(MyServer, "localhost"), "localhost");
    EXPECT_EQ(ReadSetting(MyPort, "3306"), "3306");
    EXPECT_EQ(ReadSetting(MyUser), "");
    EXPECT_FALSE(QFile::exists(storePath())) << "reading must not create the store";

    // An emptied box stores the empty text; the default is only for keys never written.
    ASSERT_TRUE(WriteSetting(MyPort, ""));
    EXPECT_EQ(ReadSetting(MyPort, "3306"), "");
    EXPECT_TRUE(storeOnDisk().contains("MyPort=\n"));
}

TEST_F(SettingsStore, EveryKeystrokeIsOnDiskBeforeTheNext) {
    QLineEdit box;
    QStringList onDisk;
    QObject::connect(&box, &QLineEdit::textChanged, &box, [&](const QString& text) {
        EXPECT_TRUE(WriteSetting(MyPassword, text));
        const QByteArray content = storeOnDisk();
        const qsizetype start = content.indexOf("MyPassword=");
        onDisk << (start < 0 ? QStringLiteral("<missing>")
                             : QString::fromUtf8(content.mid(start + 11).split('\n').first()));
    });

    type(box, Qt::Key_A, "a");
    type(box, Qt::Key_B, "b");
    type(box, Qt::Key_C, "c");
    type(box, Qt::Key_Backspace);
    box.selectAll();
    type(box, Qt::Key_Delete);

    EXPECT_EQ(onDisk, (QStringList{"a", "ab", "abc", "ab", ""}));
    EXPECT_EQ(ReadSetting(MyPassword, "default"), "");
}

TEST_F(SettingsStore, FileIsReadableByItsOwnerOnly) {
    ASSERT_TRUE(WriteSetting(MyPassword, "secret"));
    EXPECT_EQ(storeMode(), 0600u);

    for (const mode_t earlier : {0644, 0666, 0777, 0400}) {
        setStoreMode(earlier);
        ASSERT_TRUE(WriteSetting(MyPassword, "secret"));
        EXPECT_EQ(storeMode(), 0600u) << "was " << std::oct << earlier;
    }
}

TEST_F(SettingsStore, ExistingFileKeepsItsOtherContentAndIsNarrowed) {
    writeStore("[Other]\nKey=kept\n");
    setStoreMode(0644);
    ASSERT_TRUE(WriteSetting(MyUser, "me"));
    EXPECT_EQ(storeMode(), 0600u);
    EXPECT_TRUE(storeOnDisk().contains("[Other]\nKey=kept\n"));
    EXPECT_EQ(ReadSetting(MyUser), "me");
}

TEST_F(SettingsStore, DamagedFileGivesTheDefaultsAndIsRepairedByTheNextWrite) {
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.append(char((i * 7919 + 13) % 256));
    const QByteArray damaged[] = {
        garbage,
        "[Orvendel\nMyServer=half a section header\n",
        "[Orvendel]\nMyServer\nMyServer=after a line without a value\n",
        "[Orvendel]\nMyServer=a, b\n",
        "[Orvendel]\nMyServer=@ByteArray(not text)\n",
    };
    for (const QByteArray& content : damaged) {
        writeStore(content);
        EXPECT_EQ(ReadSetting(MyServer, "localhost"), "localhost") << content.left(40).data();
        EXPECT_EQ(ReadSetting(MyPort, "3306"), "3306");

        ASSERT_TRUE(WriteSetting(MyServer, "repaired"));
        EXPECT_EQ(ReadSetting(MyServer, "localhost"), "repaired");
        EXPECT_EQ(ReadSetting(MyPort, "3306"), "3306");
    }
}

TEST_F(SettingsStore, SomethingOtherThanAFileGivesDefaultsAndRefusesWrites) {
    ASSERT_TRUE(QDir(home()).mkdir("Kestrane.ini"));
    EXPECT_EQ(ReadSetting(MyServer, "localhost"), "localhost");
    EXPECT_FALSE(WriteSetting(MyServer, "x"));
    ASSERT_TRUE(QDir(home()).rmdir("Kestrane.ini"));

    // Opening a pipe for reading would wait for a writer forever.
    ASSERT_EQ(::mkfifo(QFile::encodeName(storePath()).constData(), 0600), 0);
    EXPECT_EQ(ReadSetting(MyPort, "3306"), "3306");
    EXPECT_FALSE(WriteSetting(MyPort, "3307"));
}

TEST_F(SettingsStore, FailedWriteIsReportedAndKeepsTheOldValue) {
    ASSERT_TRUE(WriteSetting(MyServer, "old"));
    EXPECT_FALSE(writeWithFileSizeLimit(40, MyServer, QString(200, QLatin1Char('n'))));
    EXPECT_EQ(storeOnDisk(), "[Orvendel]\nMyServer=old\n");
}

TEST_F(SettingsStore, DamagedFileWhoseRepairFailsIsReported) {
    writeStore("[Orvendel\nMyServer=damaged\n");
    EXPECT_FALSE(writeWithFileSizeLimit(10, MyServer, "new value"));
    EXPECT_EQ(storeOnDisk(), "[Orvendel\nMyServer=damaged\n");
}

TEST_F(SettingsStore, UnreachableFolderIsReported) {
    QFile blocker(QDir(home()).filePath("not-a-folder"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(blocker.fileName() + "/config"));
    EXPECT_FALSE(WriteSetting(MyServer, "x"));
    EXPECT_EQ(ReadSetting(MyServer, "localhost"), "localhost");
}
