#pragma once

// How connections are encrypted. Private to the db library.

#include "db/Login.h"

#include <chrono>
#include <string>
#include <string_view>

namespace orv::db {

// Whether the mode has the server's certificate checked on a connection of its own before the
// login, and pinned for the login: the driver alone does not insist on TLS there.
bool mustCheckEncryption(TlsMode mode);

// Reads a CA certificate file without blocking (a FIFO, a device or a folder is refused), and
// returns its text once it holds at least one PEM certificate. Throws Error saying why not.
std::string readCaFile(const std::string& path);

// Connects to the server, reads its greeting and, when it offers TLS, makes a TLS handshake with
// it, then disconnects without sending anything of the login. Returns the SHA-1 fingerprint of
// the certificate the server showed, in the form the driver takes. With caCertificates (PEM) the
// certificate must also be issued by one of them. Throws Error, with nothing of the login sent,
// when the server cannot be reached, sends a greeting that cannot be read, offers no TLS, or
// shows a certificate that does not verify; and when the deadline passes.
std::string serverCertificateFingerprint(const std::string& server, const std::string& port,
                                         const std::string* caCertificates,
                                         std::chrono::steady_clock::time_point deadline);

// Whether a driver's or the check's error text is the refusal of a certificate by its chain
// ("TLS/SSL error: " and one of OpenSSL's certificate verification texts).
bool isCertificateRefusal(std::string_view text);

// What the driver says when the server showed another certificate than the one pinned.
inline constexpr std::string_view fingerprintMismatchText =
    "Fingerprint verification of server certificate failed";

} // namespace orv::db
