#include "settings/Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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

    // Files that earlier versions wrote with QSettings read the same, and QSettings reads ours.
    const QString more[] = {QStringLiteral("@@twice"),
                            QStringLiteral("nul\0"
                                           "1 and \x1f"
                                           "f"),
                            QStringLiteral("tab\t, then =; all"), QStringLiteral(" "),
                            QStringLiteral("\x7f\u2028\U0001F511")};
    const QString section = QStringLiteral("Orvendel/");
    QList<QString> all(std::begin(values), std::end(values));
    all.append(QList<QString>(std::begin(more), std::end(more)));
    for (const QString& value : all) {
        QFile::remove(path_);
        {
            QSettings qt(path_, QSettings::IniFormat);
            qt.setValue(section + MyPassword, value);
            qt.setValue(QStringLiteral("Other/Key"), QStringLiteral("kept"));
        }
        EXPECT_EQ(ReadSetting(MyPassword, "unused"), value) << storeOnDisk().toStdString();
        ASSERT_TRUE(WriteSetting(MyUser, value));
        const QSettings qt(path_, QSettings::IniFormat);
        EXPECT_EQ(qt.value(section + MyUser), value) << storeOnDisk().toStdString();
        EXPECT_EQ(qt.value(section + MyPassword), value);
        EXPECT_EQ(qt.value(QStringLiteral("Other/Key")), QStringLiteral("kept"));
    }
}

TEST_F(SettingsStore, HandWrittenValuesReadAsTheTextTheyAreAndOtherLinesStay) {
    const QByteArray handWritten = "\xef\xbb\xbf; written by hand\r\nTheme=dark\r\n\r\n"
                                   "[Orvendel]\r\nMyPassword = pa,ss, word  ;comment\r\n"
                                   "MyUser=\"a, b\"\r\n[Other]\r\nKey=1,2\r\n";
    writeStore(handWritten);
    EXPECT_EQ(ReadSetting(MyPassword), "pa,ss, word");
    EXPECT_EQ(ReadSetting(MyUser), "a, b");
    const StoredLogin login = readStoredLogin();
    EXPECT_EQ(login.password, "pa,ss, word");
    EXPECT_TRUE(login.passwordTrusted);
    EXPECT_EQ(login.warning, "");

    // A change rewrites the one line; a new key goes into its section, in order.
    ASSERT_TRUE(WriteSetting(MyPassword, "new"));
    ASSERT_TRUE(WriteSetting(MyDatabase, "shop"));
    EXPECT_EQ(storeOnDisk(), "\xef\xbb\xbf; written by hand\r\nTheme=dark\r\n\r\n[Orvendel]\r\n"
                             "MyDatabase=shop\r\nMyPassword=new;comment\r\nMyUser=\"a, b\"\r\n"
                             "[Other]\r\nKey=1,2\r\n");
    // Keys of no section stay before every section.
    writeStore("Theme=dark\n");
    ASSERT_TRUE(WriteSetting(MyServer, "db"));
    EXPECT_EQ(storeOnDisk(), "Theme=dark\n\n[Orvendel]\nMyServer=db\n");
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

    for (const mode_t earlier : {0644, 0400}) {
        writeStore("[Other]\nKey=kept\n");
        ASSERT_EQ(::chmod(nativePath_.constData(), earlier), 0);
        ASSERT_TRUE(WriteSetting(MyPassword, "secret"));
        EXPECT_EQ(mode(), 0600u) << "was " << std::oct << earlier;
        EXPECT_EQ(storeOnDisk(), "[Orvendel]\nMyPassword=secret\n\n[Other]\nKey=kept\n");
    }
}

TEST_F(SettingsStore, DamagedFileGivesTheDefaultsAWarningAndIsNeverWritten) {
    const std::pair<QByteArray, QString> damaged[] = {
        {QByteArrayLiteral("\xff\xfe\0\x01[Orvendel]\x80\nMyServer\x1b=\xc3("),
         "is damaged: line 1 is not UTF-8 text"},
        {"[Orvendel\nMyServer=half a section header\n", "is damaged: line 1 cannot be read"},
        {"[Orvendel]\nMyServer=@ByteArray(not text)\n",
         "is damaged: the value of MyServer on line 2 is not text"},
        {"[Orvendel]\nMyUser=u\njust words\n", "is damaged: line 3 cannot be read"},
    };
    for (const auto& [content, problem] : damaged) {
        writeStore(content);
        EXPECT_EQ(ReadSetting(MyServer, "localhost"), "localhost") << content.data();
        EXPECT_EQ(ReadSetting(MyPort, "3306"), "3306");
        const StoredLogin login = readStoredLogin();
        EXPECT_EQ(login.server, "localhost");
        EXPECT_EQ(login.user, "");
        EXPECT_TRUE(login.warning.startsWith("The settings file " + path_ + " " + problem + ","))
            << login.warning.toStdString();

        EXPECT_FALSE(WriteSetting(MyServer, "repaired"));
        EXPECT_EQ(storeOnDisk(), content);
    }
}

TEST_F(SettingsStore, NoUsableFileGivesTheDefaultsAndFailedWrites) {
    const auto expectUnusable = [](const char* what, const QString& warning) {
        EXPECT_EQ(ReadSetting(MyServer, "localhost"), "localhost") << what;
        EXPECT_FALSE(WriteSetting(MyServer, "x")) << what;
        EXPECT_TRUE(readStoredLogin().warning.startsWith(warning))
            << readStoredLogin().warning.toStdString();
    };
    ASSERT_EQ(::mkdir(nativePath_.constData(), 0700), 0);
    expectUnusable("a folder", "The settings file " + path_ + " is a folder, not a file, so");
    ASSERT_EQ(::remove(nativePath_.constData()), 0);
    // Opening a pipe for reading would wait for a writer forever.
    ASSERT_EQ(::mkfifo(nativePath_.constData(), 0600), 0);
    expectUnusable("a pipe", "The settings file " + path_ + " is a pipe, not a file, so");
    ASSERT_EQ(::remove(nativePath_.constData()), 0);
    // A link to nothing (a dotfile not checked out) stays the link it is.
    ASSERT_EQ(::symlink("missing/Kestrane.ini", nativePath_.constData()), 0);
    expectUnusable("a link to nothing",
                   "The settings file " + path_ + " is a link to a missing file, so");
    EXPECT_EQ(QFile::symLinkTarget(path_), home_.filePath("missing/Kestrane.ini"));
    ASSERT_EQ(::remove(nativePath_.constData()), 0);
    ASSERT_EQ(::mkfifo(nativePath_.constData(), 0600), 0);
    qputenv("XDG_CONFIG_HOME", nativePath_ + "/config");
    expectUnusable("a folder below a pipe", "The settings file " + path_ + "/config/Kestrane.ini");
}

TEST_F(SettingsStore, AFileOthersCanChangeIsNotTrustedWithThePasswordNorWritten) {
    const QByteArray content = "[Orvendel]\nMyPassword=secret\nMyServer=elsewhere.example\n";
    for (const mode_t mode : {0620, 0602, 0777}) {
        writeStore(content);
        ASSERT_EQ(::chmod(nativePath_.constData(), mode), 0);
        const StoredLogin login = readStoredLogin();
        EXPECT_EQ(login.server, "elsewhere.example");
        EXPECT_EQ(login.password, "");
        EXPECT_FALSE(login.passwordTrusted);
        EXPECT_TRUE(login.warning.startsWith("The settings file " + path_ +
                                             " can be changed by other users (it is writable by " +
                                             (mode & S_IWOTH ? "everyone" : "its group") + ")"))
            << login.warning.toStdString();
        EXPECT_TRUE(login.warning.contains("chmod 600 " + path_));
        EXPECT_FALSE(WriteSetting(MyServer, "mine"));
        EXPECT_EQ(storeOnDisk(), content);
    }
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can give the file to another user";
    ASSERT_EQ(::chmod(nativePath_.constData(), 0600), 0);
    ASSERT_EQ(::chown(nativePath_.constData(), 65534, 65534), 0);
    const StoredLogin login = readStoredLogin();
    EXPECT_FALSE(login.passwordTrusted);
    EXPECT_TRUE(login.warning.contains(path_ + " belongs to another user ("))
        << login.warning.toStdString();
    EXPECT_FALSE(WriteSetting(MyServer, "mine"));
}

TEST_F(SettingsStore, XdgConfigHomeCountsOnlyWhenItIsAnAbsolutePath) {
    const QString home = home_.filePath("home");
    const QByteArray previousHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home));
    for (const char* ignored : {"relative/config", ""}) {
        qputenv("XDG_CONFIG_HOME", ignored);
        EXPECT_EQ(settingsFilePath(), home + "/.config/Kestrane.ini") << ignored;
    }
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(settingsFilePath(), home + "/.config/Kestrane.ini");
    // The folder made for it is private.
    ASSERT_TRUE(WriteSetting(MyServer, "s"));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(home + "/.config").constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    qputenv("HOME", previousHome);
}

// The store of a user who keeps dotfiles in a repository: a link into it.
TEST_F(SettingsStore, ALinkStaysALinkAndAValueAlreadyStoredIsNotWrittenAgain) {
    ASSERT_TRUE(QDir(home_.path()).mkdir("dotfiles"));
    QFile target(home_.filePath("dotfiles/Kestrane.ini"));
    ASSERT_TRUE(target.open(QIODevice::WriteOnly));
    target.write("[Orvendel]\nMyServer=old\n");
    target.close();
    ASSERT_EQ(::symlink("dotfiles/Kestrane.ini", nativePath_.constData()), 0);

    ASSERT_TRUE(WriteSetting(MyServer, "new"));
    EXPECT_EQ(QFile::symLinkTarget(path_), target.fileName());
    EXPECT_EQ(storeOnDisk(), "[Orvendel]\nMyServer=new\n");

    struct stat before {};
    ASSERT_EQ(::stat(nativePath_.constData(), &before), 0);
    ASSERT_TRUE(WriteSetting(MyServer, "new"));
    struct stat after {};
    ASSERT_EQ(::stat(nativePath_.constData(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

// Two programs writing at once, as two login windows would, or one beside a script: each checks
// before every write that its last value is still there.
TEST_F(SettingsStore, ConcurrentWritersLoseNothing) {
    for (int run = 0; run < 20; ++run) {
        QFile::remove(path_);
        QProcess first;
        QProcess second;
        first.start(ORVENDEL_SETTINGS_WRITER, {MyServer, "25"});
        second.start(ORVENDEL_SETTINGS_WRITER, {MyUser, "25"});
        for (QProcess* writer : {&first, &second}) {
            ASSERT_TRUE(writer->waitForFinished(60000));
            EXPECT_EQ(writer->exitCode(), 0)
                << "run " << run << ": " << writer->readAllStandardError().toStdString();
        }
        EXPECT_EQ(ReadSetting(MyServer), "MyServer24");
        EXPECT_EQ(ReadSetting(MyUser), "MyUser24");
    }
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
