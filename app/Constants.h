#pragma once

namespace orv::app {

inline constexpr const char* productName = "Orvendel";
inline constexpr const char* supportEmail = "support@kestrane.com";
inline constexpr const char* vendorHomePage = "https://www.kestrane.com/";
inline constexpr const char* workbenchDownloadPage = "https://dev.mysql.com/downloads/workbench/";

} // namespace orv::app
