#include "settings/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include "sys/Files.h"

#include <sys/stat.h>

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

// The store's text as it is on disk; empty when there is none yet.
bool readWhole(const QString& path, QByteArray& content) {
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly))
        return false;
    content = file.readAll();
    return file.error() == QFileDevice::NoError;
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
    const QString folder = QFileInfo(path).absolutePath();
    QByteArray content;
    if (!isUsable(path) || !QDir().mkpath(folder) || !readWhole(path, content))
        return false;
    // The change is made on a private copy, which replaces the store only once it is complete.
    // Qt keeps the parsed store in memory for the whole process, and a change it failed to save
    // would stay there, seen by every later read and saved by the next write that succeeds; on
    // the copy's own path nothing else ever sees it. The copy is created owner-only, since the
    // password is in it in clear text.
    const std::string nativePath = QFile::encodeName(path).toStdString();
    sys::TemporaryFile copy(nativePath);
    if (copy.fd() < 0 ||
        !sys::writeAll(copy.fd(), std::string_view(content.data(), content.size())))
        return false;
    const QString copyPath = QFile::decodeName(QByteArray::fromStdString(copy.path()));
    {
        // Parsing it first leaves the parse errors of a damaged store on the reader, so the
        // writer's status tells of the write alone (Qt keeps only the first error). The write
        // replaces the damage with what could be read.
        QSettings reader(copyPath, QSettings::IniFormat);
        reader.allKeys();
        QSettings writer(copyPath, QSettings::IniFormat);
        // Written in place: the copy is already the temporary file that replaces the store.
        writer.setAtomicSyncRequired(false);
        writer.setValue(sectionKey(key), value);
        writer.sync();
        if (writer.status() != QSettings::NoError)
            return false;
    }
    return copy.replace(nativePath, S_IRUSR | S_IWUSR) == 0;
}

} // namespace orv::settings
