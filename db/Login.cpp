#include "db/Login.h"

#include "db/Error.h"

#include <algorithm>
#include <utility>

namespace orv::db {

namespace {

constexpr unsigned maxPort = 65535;
constexpr const char* blanks = " \t\r\n\v\f";

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

std::string serverName(const Login& login) {
    const size_t first = login.server.find_first_not_of(blanks);
    if (first == std::string::npos)
        return "localhost";
    return login.server.substr(first, login.server.find_last_not_of(blanks) - first + 1);
}

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

// MariaDB Connector/ODBC 3.1.15 with Connector/C 3.3.20 (libmariadb3 of MariaDB 10.11) against
// MariaDB 10.11 servers (one with TLS and require_secure_transport=ON, one with TLS optional, one
// without TLS) and fake servers that log every byte, as measured:
//
//   options appended                  TLS required     TLS optional     no TLS
//   none, SSLVERIFY=0, TLSVERSION=..  refused (1045)   plain            plain
//   FORCETLS=1                        TLS              TLS              plain
//   FORCETLS=1;SSLCA=right CA         TLS              TLS              plain
//   FORCETLS=1;SSLCA=other CA         fails in the TLS handshake, before the login
//   SSLCA=right CA;SSLVERIFY=1        TLS              TLS              fails, nothing sent
//   FORCETLS=1;SSLVERIFY=1, no CA     fails: self-signed certificate   fails, nothing sent
//   FORCETLS=1;TLSPEERFP=its SHA-1    TLS              TLS              fails, nothing sent
//   FORCETLS=1;TLSPEERFP=another      fails after the TLS handshake, before the login
//
// Without a TLS option the driver never offers TLS, and a server that requires it answers
// "Access denied", the wrong-password text. SERVER=localhost also goes over TCP, and is
// encrypted the same way. SSLCA checks the certificate's chain only; SSLVERIFY=1 also checks
// that it was issued for the server name. So FORCETLS=1 alone is the MySQL clients' default
// (encrypted when offered, plain otherwise). A server without TLS is refused before the first
// byte only with SSLVERIFY=1 or a fingerprint: "TLS/SSL error: SSL is required, but the server
// does not support it", and the fake server received 0 bytes. TLSPEERFP takes a SHA-1
// fingerprint only (40 hexadecimal digits, either case, or 59 with colons; a SHA-256 one never
// matches), and does not check the chain. The client library sends no server name (SNI) in its
// TLS handshake. So required and verify-ca pin the certificate that the check of the server
// (serverCertificateFingerprint) met and, for verify-ca, verified; the driver then refuses any
// other certificate and a server without TLS before the login. The driver reads no CA file in
// verify-ca: it was read and checked before anything was sent (readCaFile).
std::string driverConnectionString(const Login& login, const Timeouts& timeouts,
                                   const std::string& certificateFingerprint) {
    std::string text = connectionString(login) + "FORCETLS=1;";
    if (!certificateFingerprint.empty())
        text += "TLSPEERFP=" + certificateFingerprint + ";";
    else if (login.tlsMode == TlsMode::verifyCa || login.tlsMode == TlsMode::verifyIdentity)
        text += "SSLCA=" + connectionStringValue(login.tlsCaFile) + ";";
    if (login.tlsMode == TlsMode::verifyIdentity)
        text += "SSLVERIFY=1;";
    // The driver ignores the login time-out while a server accepts and stays silent, and has no
    // query time-out: its own socket time-outs bound both waits. NO_CACHE lets a driver that can
    // stream the rows of a forward-only cursor (Connector/ODBC 3.1.17 and later) do so instead of
    // holding the whole answer; 3.1.15 ignores it (measured on the catalogue of 20,000 tables: the
    // same 44 MB and the same time with and without it).
    const std::string command = std::to_string(timeouts.commandSeconds);
    return text + "CONN_TIMEOUT=" + std::to_string(timeouts.connectSeconds) +
           ";READ_TIMEOUT=" + command + ";WRITE_TIMEOUT=" + command + ";NO_CACHE=1;";
}

} // namespace orv::db
