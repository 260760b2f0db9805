#pragma once

#include <string>
#include <string_view>

namespace orv {
class Error;
}

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

// The ODBC connection string for a login. Values are inserted as typed; only a value holding
// ";", "{" or "}" is wrapped in braces (with "}" doubled), so it cannot be read as further keys.
// The TLS settings are not part of it.
std::string connectionString(const Login& login);

// Throws Error, before anything is sent, for a login the driver would not pass on as typed: a
// value holding a NUL (which would end the connection string there), a port that is not empty
// (the default port) nor a whole number from 1 to 65535, a CA file name with a blank at an end.
void checkLogin(const Login& login);

// Sentences that explain a refused login beyond the driver's text, each led by a blank: the
// server wants an encrypted connection, or a value begins or ends with a blank, which the
// driver drops. Empty when there is nothing to add.
std::string loginFailureHints(const Login& login, const Error& refusal);

// Whether a value begins or ends with a blank, which the driver drops.
bool hasOuterBlank(std::string_view value);

// One value of a connection string, braced when it would otherwise break the string.
std::string connectionStringValue(std::string_view value);

} // namespace orv::db
