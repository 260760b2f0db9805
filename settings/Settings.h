#pragma once

#include <QString>

namespace orv::settings {

// Every value lives under application "Kestrane", section "Orvendel".
inline constexpr const char* applicationName = "Kestrane";
inline constexpr const char* sectionName = "Orvendel";

inline constexpr const char* MyServer = "MyServer";
inline constexpr const char* MyUser = "MyUser";
inline constexpr const char* MyPassword = "MyPassword";
inline constexpr const char* MyDatabase = "MyDatabase";
inline constexpr const char* MyPort = "MyPort";

inline constexpr const char* defaultServer = "localhost";
inline constexpr const char* defaultPort = "3306";

// The per-user store, in the INI format of Qt's QSettings: $XDG_CONFIG_HOME/Kestrane.ini, or
// ~/.config/Kestrane.ini when XDG_CONFIG_HOME is unset, empty or not an absolute path (which the
// XDG base-directory rules say to ignore).
QString settingsFilePath();

// The login the login window saved, with the defaults for values never saved.
struct StoredLogin {
    QString server = QString::fromLatin1(defaultServer);
    QString user;
    QString password;
    QString database;
    QString port = QString::fromLatin1(defaultPort);
    // False when others could have changed the file (it is writable by its group or by everyone,
    // or belongs to someone else): then `password` is left empty and nothing is written to the
    // file, so the saved password never goes to a server someone else put there.
    bool passwordTrusted = true;
    // What the user must be told about the store, naming the file and what to do; empty when
    // all is well. A file that cannot be read, is no regular file, or is damaged gives the
    // defaults and is never written.
    QString warning;
};

StoredLogin readStoredLogin();

// The stored text, or defaultValue when the key was never written or the store cannot be used.
QString ReadSetting(const QString& key, const QString& defaultValue = {});

// Stores the text exactly and has it on disk before returning; false when it did not get there.
// Writers of every process of the user take turns under a lock, so none loses another's value.
// The file stays readable by its owner only, since it holds the password in clear text; a link
// stays a link to the file that is replaced. The value already stored is not written again. A
// store that cannot be used or trusted (see StoredLogin) is never written.
bool WriteSetting(const QString& key, const QString& value);

} // namespace orv::settings
