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

// The per-user store: $XDG_CONFIG_HOME/Kestrane.ini (~/.config/Kestrane.ini when unset), the
// file Qt's user-scope INI settings of organisation "Kestrane" use.
QString settingsFilePath();

// The stored text, or defaultValue when the key was never written or the store is damaged or
// unreadable.
QString ReadSetting(const QString& key, const QString& defaultValue = {});

// Stores the text exactly and has it on disk before returning; false when it did not get there.
// The file is kept readable by its owner only, since it holds the password in clear text.
bool WriteSetting(const QString& key, const QString& value);

} // namespace orv::settings
