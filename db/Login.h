#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orv::db {

// How much a connection insists on encryption; the meanings of the MySQL clients' --ssl-mode.
enum class TlsMode {
    preferred,     // encrypted when the server offers TLS, plain otherwise
    required,      // encrypted, or no connection; the certificate is not checked
    verifyCa,      // encrypted, with a certificate issued by tlsCaFile's authority
    verifyIdentity // as verifyCa, and issued for the server name that was given
};

// The five values of a MySQL login, as typed, and how the connection is secured.
struct Login {
    bool operator==(const Login&) const = default;

    std::string server;
    std::string user;
    std::string password;
    std::string database;
    std::string port;
    TlsMode tlsMode = TlsMode::preferred;
    std::string tlsCaFile{}; // the verify modes' certificate authority (PEM)
};

// How long opening a connection and its statements may wait.
struct Timeouts {
    // The driver's, for each wait of the login; restarts with every byte.
    unsigned connectSeconds = 15;
    // The driver's, for each wait of a statement.
    unsigned commandSeconds = 30;
    // The program's own, for the whole opening, however the server answers.
    unsigned openSeconds = 20;
};

// The ODBC connection string for a login. Values are inserted as typed; only a value holding
// ";", "{" or "}" is wrapped in braces (with "}" doubled), so it cannot be read as further keys.
// The TLS settings are not part of it.
std::string connectionString(const Login& login);

// The length of a certificate's fingerprint as the driver takes it (SHA-1, in hexadecimal).
inline constexpr size_t certificateFingerprintLength = 40;

// What the driver is given: the connection string, then the driver's options for the login's TLS
// mode and the time-outs. A certificate fingerprint, when given, is the only certificate the
// driver accepts, and it then refuses a server that offers no TLS before sending anything.
std::string driverConnectionString(const Login& login, const Timeouts& timeouts,
                                   const std::string& certificateFingerprint = {});

// The server name the driver connects to, and so the one every check of the server uses: blanks
// at its ends are dropped, as the driver drops them, and an empty name is localhost.
std::string serverName(const Login& login);

// Throws Error, before anything is sent, for a login the driver would not pass on as typed: a
// value holding a NUL (which would end the connection string there), a port that is not empty
// (the default port) nor a whole number from 1 to 65535, a CA file name with a blank at an end.
void checkLogin(const Login& login);

// Whether a value begins or ends with a blank, which the driver drops.
bool hasOuterBlank(std::string_view value);

// One value of a connection string, braced when it would otherwise break the string.
std::string connectionStringValue(std::string_view value);

} // namespace orv::db
