#pragma once

// How connections are encrypted. Private to the db library.

#include "db/Login.h"

#include <optional>
#include <string>

namespace orv::db {

// The driver options that give the login's TLS mode, each closed by ";".
std::string driverTlsOptions(const Login& login);

// Whether the mode needs the server's TLS offer checked before the login is sent, and the
// session checked for encryption afterwards: the driver itself does not insist on TLS there.
bool mustCheckEncryption(TlsMode mode);

// Reads the greeting the server sends on a connection of its own, before anything is sent to
// it, and tells whether it offers TLS. nullopt when no greeting could be read (refused, no such
// host, an error packet): the driver's own attempt then says why. Throws Error when the server
// accepts the connection but stays silent for timeoutSeconds.
std::optional<bool> serverOffersTls(const std::string& server, const std::string& port,
                                    unsigned timeoutSeconds);

} // namespace orv::db
