#include "settings/Settings.h"

#include "settings/IniText.h"
#include "sys/Files.h"

#include <QFile>
#include <QStringDecoder>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace orv::settings {

namespace {

const QString section = QString::fromLatin1(sectionName);

enum class State {
    absent,    // no file yet: every key has its default
    usable,    // read and trusted
    untrusted, // read, but others could have written it
    unusable,  // cannot be read, is no regular file, or is damaged
};

struct Store {
    State state = State::absent;
    std::string path;   // settingsFilePath()
    std::string target; // the file a link at path leads to, else path
    QByteArray text;
    ini::Document document;
    QString problem; // why the store is not usable or trusted, for the warning

    std::optional<QString> value(const QString& key) const {
        if (state != State::usable && state != State::untrusted)
            return std::nullopt;
        const ini::Entry* entry = document.find(section, key);
        if (!entry)
            return std::nullopt;
        return ini::text(
            QByteArrayView(text).sliced(entry->valueStart, entry->end - entry->valueStart));
    }
};

QString errorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString homeFolder() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return QFile::decodeName(home);
    const passwd* user = ::getpwuid(::geteuid());
    return QFile::decodeName(user && user->pw_dir ? user->pw_dir : "/");
}

QString ownerName(uid_t uid) {
    const passwd* user = ::getpwuid(uid);
    return user ? QFile::decodeName(user->pw_name) : QString::number(uid);
}

qsizetype lineNumber(const QByteArray& text, qsizetype at) {
    return text.first(at).count('\n') + 1;
}

bool readWhole(int fd, QByteArray& text, off_t size) {
    // The size may change while it is read: what is read counts.
    text.resize(static_cast<qsizetype>(size) + 1);
    qsizetype got = 0;
    for (;;) {
        if (got == text.size())
            text.resize(text.size() * 2);
        const ssize_t n = ::read(fd, text.data() + got, static_cast<size_t>(text.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        got += n;
    }
    text.truncate(got);
    return true;
}

// Damage is a file QSettings could not read whole, text that is not UTF-8, or one of the values
// of the section that is not text; empty when there is none.
QString damage(const Store& store) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8(store.text);
    if (utf8.hasError()) {
        const qsizetype bad = decoded.indexOf(QChar::ReplacementCharacter);
        const qsizetype at = bad < 0 ? store.text.size() : decoded.first(bad).toUtf8().size();
        return QStringLiteral("is damaged: line %1 is not UTF-8 text")
            .arg(lineNumber(store.text, at));
    }
    if (store.document.errorAt >= 0)
        return QStringLiteral("is damaged: line %1 cannot be read")
            .arg(lineNumber(store.text, store.document.errorAt));
    for (const ini::Entry& entry : store.document.entries)
        if (entry.section == section && !store.value(entry.key))
            return QStringLiteral("is damaged: the value of %1 on line %2 is not text")
                .arg(entry.key)
                .arg(lineNumber(store.text, entry.start));
    return {};
}

Store load() {
    Store store;
    store.path = QFile::encodeName(settingsFilePath()).toStdString();
    const auto unusable = [&store](const QString& problem) {
        store.state = State::unusable;
        store.problem = problem;
        return store;
    };
    if (const int error = sys::followLinks(store.path, store.target)) {
        // No link: a folder on the way refuses the lookup.
        if (!sys::isLink(store.path))
            return unusable(QStringLiteral("cannot be read (%1)").arg(errorText(error)));
        return unusable(
            error == ENOENT
                ? QStringLiteral("is a link to a missing file")
                : QStringLiteral("is a link that cannot be followed (%1)").arg(errorText(error)));
    }
    // Without waiting: a pipe in the file's place would wait for a writer for good.
    const sys::Descriptor file(
        ::open(store.target.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.get() < 0) {
        if (errno == ENOENT)
            return store;
        return unusable(QStringLiteral("cannot be read (%1)").arg(errorText(errno)));
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0)
        return unusable(QStringLiteral("cannot be read (%1)").arg(errorText(errno)));
    if (!S_ISREG(info.st_mode))
        return unusable(S_ISDIR(info.st_mode)    ? QStringLiteral("is a folder, not a file")
                        : S_ISFIFO(info.st_mode) ? QStringLiteral("is a pipe, not a file")
                                                 : QStringLiteral("is not a regular file"));
    if (!readWhole(file.get(), store.text, info.st_size))
        return unusable(QStringLiteral("cannot be read (%1)").arg(errorText(errno)));
    store.document = ini::parse(store.text);
    store.state = State::usable;
    if (const QString damaged = damage(store); !damaged.isEmpty())
        return unusable(damaged);

    // As OpenSSH trusts its configuration: the user's own or root's, and writable by the owner
    // alone.
    if (info.st_uid != ::geteuid() && info.st_uid != 0) {
        store.state = State::untrusted;
        store.problem = QStringLiteral("belongs to another user (%1)").arg(ownerName(info.st_uid));
    } else if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        store.state = State::untrusted;
        store.problem = QStringLiteral("can be changed by other users (it is writable by %1)")
                            .arg((info.st_mode & S_IWOTH) != 0 ? QStringLiteral("everyone")
                                                               : QStringLiteral("its group"));
    }
    return store;
}

QString warning(const Store& store) {
    const QString file = QFile::decodeName(QByteArray::fromStdString(store.path));
    switch (store.state) {
    case State::absent:
    case State::usable:
        break;
    case State::untrusted:
        return QStringLiteral("The settings file %1 %2, so the password saved in it is not used "
                              "and nothing is saved to it. Make it your own and writable by you "
                              "alone (chmod 600 %1), or remove it.")
            .arg(file, store.problem);
    case State::unusable:
        return QStringLiteral("The settings file %1 %2, so the saved login is not used: the "
                              "defaults are, and the file is left as it is, with nothing saved to "
                              "it. Correct or remove the file.")
            .arg(file, store.problem);
    }
    return {};
}

} // namespace

QString settingsFilePath() {
    const QByteArray configHome = qgetenv("XDG_CONFIG_HOME");
    const QString folder = configHome.startsWith('/') ? QFile::decodeName(configHome)
                                                      : homeFolder() + QStringLiteral("/.config");
    return folder + QLatin1Char('/') + QString::fromLatin1(applicationName) +
           QStringLiteral(".ini");
}

StoredLogin readStoredLogin() {
    const Store store = load();
    StoredLogin login;
    const std::pair<QString*, const char*> fields[] = {{&login.server, MyServer},
                                                       {&login.user, MyUser},
                                                       {&login.password, MyPassword},
                                                       {&login.database, MyDatabase},
                                                       {&login.port, MyPort}};
    for (const auto& [field, key] : fields)
        if (std::optional<QString> value = store.value(QString::fromLatin1(key)))
            *field = std::move(*value);
    if (store.state == State::untrusted) {
        login.password.clear();
        login.passwordTrusted = false;
    }
    login.warning = warning(store);
    return login;
}

QString ReadSetting(const QString& key, const QString& defaultValue) {
    return load().value(key).value_or(defaultValue);
}

bool WriteSetting(const QString& key, const QString& value) {
    const std::string path = QFile::encodeName(settingsFilePath()).toStdString();
    // The folder is made private, as the XDG rules ask.
    if (sys::makeFolders(sys::folderOf(path), 0700) != 0)
        return false;
    // Each writer reads the file afresh under the lock and replaces it before letting go, so
    // no writer's value is lost to another's copy of an older file. The lock file stays; its
    // name is not Qt's (NAME.lock), which QSettings would take for a stale lock of its own and
    // wait 30 s for.
    const sys::FileLock lock(sys::folderOf(path) + "/." + sys::nameOf(path) + ".lock");
    if (lock.error() != 0)
        return false;
    const Store store = load();
    if (store.state == State::unusable || store.state == State::untrusted)
        return false;
    if (store.value(key) == value)
        return true;
    const QByteArray text = ini::withValue(store.text, store.document, section, key, value);
    sys::TemporaryFile copy(store.target);
    return copy.fd() >= 0 && sys::writeAll(copy.fd(), std::string_view(text.data(), text.size())) &&
           copy.replace(store.target, S_IRUSR | S_IWUSR) == 0;
}

} // namespace orv::settings
