#include "db/Login.h"

#include "db/Error.h"

#include <algorithm>
#include <utility>

namespace orv::db {

namespace {

constexpr unsigned maxPort = 65535;
constexpr const char* blanks = " \t\r\n\v\f";

// The MySQL server error for a TCP login without TLS where the server requires it, and the
// client library's error for an authentication (caching_sha2_password, MySQL 8's default) that
// needs a secure connection or an RSA key exchange.
constexpr long insecureTransportProhibited = 3159;
constexpr long authenticationPluginError = 2061;
constexpr long databaseAccessDenied = 1044;
constexpr long unknownDatabase = 1049;

bool isPort(std::string_view port) {
    if (port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    unsigned value = 0;
    for (char c : port)
        value = value * 10 + static_cast<unsigned>(c - '0');
    return value >= 1 && value <= maxPort;
}

} // namespace

bool hasOuterBlank(std::string_view value) {
    const std::string_view set = blanks;
    return !value.empty() && (set.find(value.front()) != std::string_view::npos ||
                              set.find(value.back()) != std::string_view::npos);
}

void checkLogin(const Login& login) {
    const std::pair<const std::string&, const char*> values[] = {
        {login.server, "server name"}, {login.user, "user name"},
        {login.password, "password"},  {login.database, "database name"},
        {login.port, "port"},          {login.tlsCaFile, "CA certificate file name"}};
    for (const auto& [value, name] : values)
        if (value.find('\0') != std::string::npos)
            throw Error(std::string("The ") + name +
                        " contains a NUL character, which cannot be sent to the server: "
                        "nothing was sent.");
    if (!login.port.empty() && !isPort(login.port))
        throw Error("The port \"" + login.port +
                    "\" is not a whole number from 1 to 65535 (an empty port means 3306).");
    if (hasOuterBlank(login.tlsCaFile))
        throw Error("The CA certificate file name \"" + login.tlsCaFile +
                    "\" begins or ends with a blank, which the ODBC driver drops.");
}

std::string loginFailureHints(const Login& login, const Error& refusal) {
    std::string hints;
    const std::string_view text = refusal.what();
    if (refusal.nativeCode() == insecureTransportProhibited ||
        (refusal.nativeCode() == authenticationPluginError &&
         text.find("secure connection") != std::string_view::npos))
        hints += " The server requires an encrypted connection.";
    if ((login.tlsMode == TlsMode::verifyCa || login.tlsMode == TlsMode::verifyIdentity) &&
        text.find("TLS/SSL error") != std::string_view::npos)
        hints += " The server's certificate could not be verified with the CA certificate "
                 "file " +
                 login.tlsCaFile + ".";
    auto blankHint = [&hints](const std::string& value, const char* what, const char* outcome) {
        if (hasOuterBlank(value))
            hints += std::string(" The ") + what +
                     " begins or ends with a blank, which the ODBC driver drops: " + outcome;
    };
    if (refusal.sqlState() == "28000") {
        blankHint(login.user, "user name", "it cannot log in through this driver.");
        blankHint(login.password, "password", "it cannot be sent as typed.");
    }
    if (refusal.nativeCode() == unknownDatabase || refusal.nativeCode() == databaseAccessDenied)
        blankHint(login.database, "database name", "the server was asked for the name without it.");
    return hints;
}

std::string connectionStringValue(std::string_view value) {
    if (value.find_first_of(";{}") == std::string_view::npos)
        return std::string(value);
    std::string braced = "{";
    for (char c : value) {
        braced += c;
        if (c == '}')
            braced += '}';
    }
    braced += '}';
    return braced;
}

std::string connectionString(const Login& login) {
    return "DRIVER={MySQL ODBC 5.1 Driver};SERVER=" + connectionStringValue(login.server) +
           ";USER=" + connectionStringValue(login.user) +
           ";PASSWORD=" + connectionStringValue(login.password) +
           ";DATABASE=" + connectionStringValue(login.database) +
           ";PORT=" + connectionStringValue(login.port) + ";";
}

} // namespace orv::db
