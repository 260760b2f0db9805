#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orv::test {

// How a fake MySQL server greets each connection.
enum class Greeting {
    plain,                      // a MySQL 8.0 greeting that offers no TLS
    tls,                        // offers TLS, and makes the handshake with certificatePem()
    tlsToFirstOnly,             // tls on the first connection, plain on the later ones
    otherCertificateAfterFirst, // tls, with otherCertificatePem() after the first connection
    longVersion,                // plain, with a server version of 600 characters
    unendedVersion,     // a server version without its NUL, running to the end of the packet
    trickled,           // plain, one byte per pace
    twoStalls,          // plain, in three parts, with a pause of pace after each of the first two
    endlessTlsHandshake // offers TLS, then answers the handshake one byte per pace, for ever
};

struct FakeServerSetup {
    Greeting greeting = Greeting::plain;
    // The authentication method asked for after the login packet ("mysql_clear_password",
    // "dialog"); without one the login is refused at once.
    std::string authenticationSwitch{};
    std::chrono::milliseconds pace{1000};
};

// A server on a loopback port that speaks the start of the MySQL protocol and keeps every byte
// it receives: as they came before TLS, decrypted after it. It never lets a login in.
class FakeServer {
public:
    explicit FakeServer(FakeServerSetup setup = {});
    ~FakeServer();
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    int port() const noexcept;
    // What each connection sent, in the order the connections came.
    std::vector<std::string> received() const;
    // Whether any connection sent these bytes.
    bool received(std::string_view bytes) const;

    // The server's self-signed certificate, issued for 127.0.0.1 and localhost (PEM).
    static const std::string& certificatePem();
    // Another self-signed certificate, of an authority that issued nothing the server shows.
    static const std::string& otherCertificatePem();

private:
    struct State;
    std::shared_ptr<State> state_;
};

// The bytes with every one outside printable ASCII as \xHH.
std::string escapedBytes(std::string_view bytes);

} // namespace orv::test
