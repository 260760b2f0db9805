#include "db/Tls.h"

#include "db/Error.h"
#include "sys/Files.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>

namespace orv::db {

// MariaDB Connector/ODBC 3.1.15 against MariaDB 10.11 servers (one with TLS and
// require_secure_transport=ON, one with TLS optional, one without TLS), as measured:
//
//   options appended                  TLS required     TLS optional     no TLS
//   none, SSLVERIFY=0, TLSVERSION=..  refused (1045)   plain            plain
//   FORCETLS=1                        TLS              TLS              plain
//   FORCETLS=1;SSLCA=right CA         TLS              TLS              plain
//   FORCETLS=1;SSLCA=other CA         fails in the TLS handshake, before the login
//   SSLCA=right CA;SSLVERIFY=1        TLS              TLS              fails before the login
//   FORCETLS=1;SSLVERIFY=1, no CA     fails: self-signed certificate   fails before the login
//
// Without a TLS option the driver never offers TLS, and a server that requires it answers
// "Access denied", the wrong-password text. SERVER=localhost also goes over TCP, and is
// encrypted the same way. SSLCA checks the certificate's chain only; SSLVERIFY=1 also checks
// that it was issued for the server name. So FORCETLS=1 alone is the MySQL clients' default
// (encrypted when offered, plain otherwise). No option refuses a server without TLS short of
// SSLVERIFY=1: for required and verify-ca the server's greeting is read first, and the session
// is checked for a cipher after the login.
std::string driverTlsOptions(const Login& login) {
    std::string options = "FORCETLS=1;";
    if (login.tlsMode == TlsMode::verifyCa || login.tlsMode == TlsMode::verifyIdentity)
        options += "SSLCA=" + connectionStringValue(login.tlsCaFile) + ";";
    if (login.tlsMode == TlsMode::verifyIdentity)
        options += "SSLVERIFY=1;";
    return options;
}

bool mustCheckEncryption(TlsMode mode) {
    return mode == TlsMode::required || mode == TlsMode::verifyCa;
}

namespace {

constexpr const char* defaultPort = "3306";
constexpr const char* defaultServer = "localhost";
constexpr unsigned char protocolVersion10 = 0x0a;
constexpr unsigned clientSslFlag = 0x0800;
constexpr size_t packetHeaderBytes = 4;
// A greeting is some 100 bytes; the capability flags come well within the first 300.
constexpr size_t greetingBytesRead = 512;

using Clock = std::chrono::steady_clock;

struct AddressListFree {
    void operator()(addrinfo* list) const noexcept { ::freeaddrinfo(list); }
};

// Waits for events on fd until the deadline; false when it passed first.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd ready{fd, events, 0};
        const int rc = ::poll(&ready, 1, static_cast<int>(left.count()));
        if (rc > 0)
            return true;
        if (rc < 0 && errno != EINTR)
            return false;
    }
}

enum class Greeting { read, silent, none };

// Reads the first bytes the server sends; a refused or failed connection reads nothing.
Greeting readGreeting(const addrinfo& address, Clock::time_point deadline, std::string& bytes) {
    sys::Descriptor socket(::socket(address.ai_family,
                                    address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                    address.ai_protocol));
    if (socket.get() < 0)
        return Greeting::none;
    if (::connect(socket.get(), address.ai_addr, address.ai_addrlen) != 0) {
        if (errno != EINPROGRESS)
            return Greeting::none;
        if (!waitFor(socket.get(), POLLOUT, deadline))
            return Greeting::silent;
        int failure = 0;
        socklen_t length = sizeof failure;
        if (::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &failure, &length) != 0 ||
            failure != 0)
            return Greeting::none;
    }
    char buffer[greetingBytesRead];
    while (bytes.size() < packetHeaderBytes + 1 ||
           bytes.size() < packetHeaderBytes + (static_cast<unsigned char>(bytes[0]) |
                                               static_cast<unsigned char>(bytes[1]) << 8 |
                                               static_cast<unsigned char>(bytes[2]) << 16)) {
        if (bytes.size() >= greetingBytesRead)
            break;
        if (!waitFor(socket.get(), POLLIN, deadline))
            return Greeting::silent;
        const ssize_t got = ::recv(socket.get(), buffer, greetingBytesRead - bytes.size(), 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            return bytes.empty() ? Greeting::none : Greeting::read;
        bytes.append(buffer, static_cast<size_t>(got));
    }
    return Greeting::read;
}

// The TLS flag of a protocol-10 greeting: version, server version text, thread id, 8 bytes of
// scramble, a filler byte, then the lower two bytes of the capability flags.
std::optional<bool> offersTls(const std::string& packet) {
    if (packet.size() <= packetHeaderBytes ||
        static_cast<unsigned char>(packet[packetHeaderBytes]) != protocolVersion10)
        return std::nullopt;
    const size_t versionEnd = packet.find('\0', packetHeaderBytes + 1);
    const size_t flags = versionEnd + 1 + 4 + 8 + 1;
    if (versionEnd == std::string::npos || flags + 2 > packet.size())
        return std::nullopt;
    const unsigned lower = static_cast<unsigned char>(packet[flags]) |
                           static_cast<unsigned>(static_cast<unsigned char>(packet[flags + 1]))
                               << 8;
    return (lower & clientSslFlag) != 0;
}

} // namespace

std::optional<bool> serverOffersTls(const std::string& server, const std::string& port,
                                    unsigned timeoutSeconds) {
    const std::string host = server.empty() ? defaultServer : server;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), port.empty() ? defaultPort : port.c_str(), &hints, &found) != 0)
        return std::nullopt;
    const std::unique_ptr<addrinfo, AddressListFree> addresses(found);
    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    for (const addrinfo* address = found; address; address = address->ai_next) {
        std::string bytes;
        switch (readGreeting(*address, deadline, bytes)) {
        case Greeting::read:
            return offersTls(bytes);
        case Greeting::silent:
            throw Error("The server " + host + " did not answer within " +
                            std::to_string(timeoutSeconds) + " seconds.",
                        "08S01", 2013);
        case Greeting::none:
            break;
        }
    }
    return std::nullopt;
}

} // namespace orv::db
