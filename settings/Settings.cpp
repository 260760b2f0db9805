#include "settings/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace orv::settings {

namespace {

QString sectionKey(const QString& key) {
    return QString::fromUtf8(sectionName) + QLatin1Char('/') + key;
}

// A folder or a pipe at the store's place is no store; opening a pipe would even block.
bool isUsable(const QString& path) {
    const QFileInfo file(path);
    return !file.exists() || file.isFile();
}

// The password is in there in clear text: the file is created owner-only, or narrowed to
// owner-only, before the value is written, so it never sits in a file others may read. The
// atomic save that follows keeps the rights of the file it replaces.
bool makePrivate(const QString& path) {
    constexpr QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    QFile file(path);
    if (!file.exists()) {
        if (!QDir().mkpath(QFileInfo(path).absolutePath()))
            return false;
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly, ownerOnly))
            return true;
    }
    return file.setPermissions(ownerOnly);
}

// The file's data is synced before it is renamed into place; syncing the folder makes the rename
// itself survive a power cut.
void syncFolder(const QString& folder) {
#ifdef Q_OS_UNIX
    const int descriptor =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0) {
        ::fsync(descriptor);
        ::close(descriptor);
    }
#else
    Q_UNUSED(folder);
#endif
}

} // namespace

QString settingsFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + QString::fromUtf8(applicationName) + QStringLiteral(".ini");
}

QString ReadSetting(const QString& key, const QString& defaultValue) {
    const QString path = settingsFilePath();
    if (!isUsable(path))
        return defaultValue;
    const QSettings store(path, QSettings::IniFormat);
    const QVariant value = store.value(sectionKey(key));
    // Only text is ever written, so anything else is damage, like a line the parser rejects.
    if (store.status() != QSettings::NoError || value.typeId() != QMetaType::QString)
        return defaultValue;
    return value.toString();
}

bool WriteSetting(const QString& key, const QString& value) {
    const QString path = settingsFilePath();
    if (!isUsable(path) || !makePrivate(path))
        return false;
    // Both objects share the parsed file. Parsing it here first leaves the parse errors of a
    // damaged file on the reader, so the writer's status tells of the write alone (Qt keeps only
    // the first error). The write replaces the damage with what could be read.
    QSettings reader(path, QSettings::IniFormat);
    reader.allKeys();
    QSettings writer(path, QSettings::IniFormat);
    writer.setValue(sectionKey(key), value);
    writer.sync();
    if (writer.status() != QSettings::NoError)
        return false;
    syncFolder(QFileInfo(path).absolutePath());
    return true;
}

} // namespace orv::settings
