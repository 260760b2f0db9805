#include "db/Tls.h"

#include "db/Error.h"
#include "sys/Files.h"

#include <fcntl.h>
#include <netdb.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

namespace orv::db {

bool mustCheckEncryption(TlsMode mode) {
    return mode == TlsMode::required || mode == TlsMode::verifyCa;
}

namespace {

using Clock = std::chrono::steady_clock;

// A system CA bundle is some 200 KB.
constexpr off_t largestCaFile = 16 * 1024 * 1024;

template <auto Free> struct Freer {
    template <class T> void operator()(T* object) const noexcept { Free(object); }
};
using Bio = std::unique_ptr<BIO, Freer<BIO_free>>;
using Certificate = std::unique_ptr<X509, Freer<X509_free>>;
using Context = std::unique_ptr<SSL_CTX, Freer<SSL_CTX_free>>;
using Session = std::unique_ptr<SSL, Freer<SSL_free>>;
using AddressList = std::unique_ptr<addrinfo, Freer<freeaddrinfo>>;

void freeInfos(STACK_OF(X509_INFO) * infos) noexcept {
    sk_X509_INFO_pop_free(infos, X509_INFO_free);
}

// Calls take for every certificate of a PEM text; the number of them.
size_t forEachCertificate(const std::string& pem, const std::function<void(X509*)>& take) {
    Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio)
        return 0;
    std::unique_ptr<STACK_OF(X509_INFO), Freer<freeInfos>> infos(
        PEM_X509_INFO_read_bio(bio.get(), nullptr, nullptr, nullptr));
    ERR_clear_error();
    size_t count = 0;
    for (int i = 0; infos && i < sk_X509_INFO_num(infos.get()); ++i)
        if (X509* certificate = sk_X509_INFO_value(infos.get(), i)->x509) {
            take(certificate);
            ++count;
        }
    return count;
}

} // namespace

std::string readCaFile(const std::string& path) {
    const std::string name = "The CA certificate file " + path;
    // Without O_NONBLOCK, opening a FIFO waits for a writer for ever.
    sys::Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat status {};
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0)
        throw Error(name + " cannot be read: " + std::strerror(errno) + ".");
    if (!S_ISREG(status.st_mode))
        throw Error(name + " is not a regular file.");
    if (status.st_size > largestCaFile)
        throw Error(name + " is larger than 16 MB.");
    std::string text;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw Error(name + " cannot be read: " + std::strerror(errno) + ".");
        if (got == 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
        if (text.size() > static_cast<size_t>(largestCaFile))
            throw Error(name + " is larger than 16 MB.");
    }
    if (forEachCertificate(text, [](X509*) {}) == 0)
        throw Error(name + " holds no PEM certificate.");
    return text;
}

bool isCertificateRefusal(std::string_view text) {
    constexpr std::string_view prefix = "TLS/SSL error: ";
    const size_t at = text.find(prefix);
    if (at == std::string_view::npos)
        return false;
    const std::string_view reason = text.substr(at + prefix.size());
    // OpenSSL 3's verification results are numbered from 1 to below 128; the rest share one text.
    const std::string_view unknown = X509_verify_cert_error_string(-1);
    for (long code = 1; code < 128; ++code) {
        const std::string_view known = X509_verify_cert_error_string(code);
        if (known != unknown && reason.starts_with(known))
            return true;
    }
    return false;
}

namespace {

constexpr const char* defaultPort = "3306";
constexpr unsigned char protocolVersion10 = 0x0a;
constexpr unsigned char errorPacket = 0xff;
constexpr size_t packetHeaderBytes = 4;
// Real greetings are some 100 bytes; the protocol allows 16 MB, which is not read.
constexpr size_t largestGreeting = 64 * 1024;

// Capability flags (the MySQL protocol's CLIENT_*).
constexpr unsigned clientLongPassword = 0x0001;
constexpr unsigned clientProtocol41 = 0x0200;
constexpr unsigned clientSsl = 0x0800;
constexpr unsigned clientSecureConnection = 0x8000;
constexpr unsigned char utf8mb4GeneralCi = 45;
constexpr unsigned largestPacket = 16 * 1024 * 1024;

// Error numbers of the client library, for errors of the same kind.
constexpr long connectionError = 2002;
constexpr long unknownHost = 2005;
constexpr long lostConnection = 2013;
constexpr long tlsError = 2026;

const std::string nothingSent =
    ", and an encrypted connection was required: nothing was sent to it.";

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

// One server's check, on one connection.
class Check {
public:
    Check(std::string server, Clock::time_point deadline)
        : server_(std::move(server)), deadline_(deadline) {}

    // Connects to the first address that accepts, as the client library does.
    void connect(const std::string& port) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int rc = ::getaddrinfo(server_.c_str(), port.c_str(), &hints, &found);
        if (rc != 0)
            throw Error("The server name " + server_ + " cannot be resolved: " + gai_strerror(rc) +
                            ".",
                        "08001", unknownHost);
        const AddressList addresses(found);
        int failure = ECONNREFUSED;
        for (const addrinfo* address = found; address; address = address->ai_next) {
            failure = connectTo(*address);
            if (failure == 0)
                return;
        }
        throw Error("Cannot connect to the server " + server_ + " on port " + port + ": " +
                        std::strerror(failure) + ".",
                    "08001", connectionError);
    }

    // The capability flags of the server's greeting.
    unsigned greetingFlags() {
        std::string packet = read(packetHeaderBytes);
        const size_t length = static_cast<unsigned char>(packet[0]) |
                              static_cast<unsigned char>(packet[1]) << 8 |
                              static_cast<unsigned char>(packet[2]) << 16;
        if (length > largestGreeting)
            throw unreadable("it announces " + std::to_string(length) + " bytes");
        if (length == 0)
            throw unreadable("it is empty");
        const std::string payload = read(length);
        if (static_cast<unsigned char>(payload[0]) == errorPacket)
            throw refusal(payload);
        if (static_cast<unsigned char>(payload[0]) != protocolVersion10)
            throw unreadable("it is not of the MySQL protocol 10");
        // The version text ends with a NUL; then come a thread id, 8 bytes of scramble, a filler
        // byte and the lower two bytes of the capability flags.
        const size_t versionEnd = payload.find('\0', 1);
        if (versionEnd == std::string::npos)
            throw unreadable("its server version has no end");
        const size_t flags = versionEnd + 1 + 4 + 8 + 1;
        if (flags + 2 > payload.size())
            throw unreadable("it ends before its capability flags");
        return static_cast<unsigned char>(payload[flags]) |
               static_cast<unsigned>(static_cast<unsigned char>(payload[flags + 1])) << 8;
    }

    // Asks for TLS the way a client does before its login (the 32 bytes of an SSL request,
    // packet 1), makes the handshake and returns the server's certificate; with verifyWith, the
    // certificate must verify with those authorities.
    Certificate handshake(const std::string* verifyWith) {
        std::string request = {32, 0, 0, 1};
        appendInteger(request,
                      clientLongPassword | clientProtocol41 | clientSsl | clientSecureConnection);
        appendInteger(request, largestPacket);
        request += static_cast<char>(utf8mb4GeneralCi);
        request.append(23, '\0');
        write(request);

        ERR_clear_error();
        Context context(SSL_CTX_new(TLS_client_method()));
        if (!context)
            throw tlsFailure();
        if (verifyWith) {
            X509_STORE* store = SSL_CTX_get_cert_store(context.get());
            forEachCertificate(*verifyWith,
                               [store](X509* authority) { X509_STORE_add_cert(store, authority); });
            ERR_clear_error();
        }
        // The result of the verification is read after the handshake.
        SSL_CTX_set_verify(context.get(), SSL_VERIFY_NONE, nullptr);
        Session session(SSL_new(context.get()));
        if (!session || SSL_set_fd(session.get(), socket_->get()) != 1)
            throw tlsFailure();
        for (;;) {
            const int rc = SSL_connect(session.get());
            if (rc == 1)
                break;
            const int reason = SSL_get_error(session.get(), rc);
            if (reason == SSL_ERROR_WANT_READ || reason == SSL_ERROR_WANT_WRITE) {
                if (!waitFor(socket_->get(), reason == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT,
                             deadline_))
                    throw silent();
                continue;
            }
            throw tlsFailure();
        }
        Certificate certificate(SSL_get1_peer_certificate(session.get()));
        if (!certificate)
            throw Error("TLS/SSL error: the server " + server_ + " showed no certificate.", "08001",
                        tlsError);
        if (verifyWith) {
            const long verified = SSL_get_verify_result(session.get());
            if (verified != X509_V_OK)
                throw Error(std::string("TLS/SSL error: ") +
                                X509_verify_cert_error_string(verified),
                            "08001", tlsError);
        }
        SSL_shutdown(session.get());
        return certificate;
    }

    Error withoutTls() const {
        return Error("The server " + server_ + " does not offer encrypted connections (TLS)" +
                         nothingSent,
                     "08001");
    }

private:
    // 0, or the errno of the failed connection.
    int connectTo(const addrinfo& address) {
        socket_.emplace(::socket(address.ai_family,
                                 address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                 address.ai_protocol));
        int failure = 0;
        if (socket_->get() < 0) {
            failure = errno;
        } else if (::connect(socket_->get(), address.ai_addr, address.ai_addrlen) != 0) {
            failure = errno;
            if (failure == EINPROGRESS) {
                if (!waitFor(socket_->get(), POLLOUT, deadline_))
                    throw silent();
                socklen_t length = sizeof failure;
                if (::getsockopt(socket_->get(), SOL_SOCKET, SO_ERROR, &failure, &length) != 0)
                    failure = errno;
            }
        }
        if (failure != 0)
            socket_.reset();
        return failure;
    }

    std::string read(size_t bytes) {
        std::string text;
        char buffer[4096];
        while (text.size() < bytes) {
            if (!waitFor(socket_->get(), POLLIN, deadline_))
                throw silent();
            const ssize_t got =
                ::recv(socket_->get(), buffer, std::min(sizeof buffer, bytes - text.size()), 0);
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (got <= 0)
                throw unreadable("the server closed the connection");
            text.append(buffer, static_cast<size_t>(got));
        }
        return text;
    }

    void write(std::string_view bytes) {
        while (!bytes.empty()) {
            if (!waitFor(socket_->get(), POLLOUT, deadline_))
                throw silent();
            const ssize_t sent = ::send(socket_->get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (sent < 0)
                throw Error("The connection to the server " + server_ +
                                " was lost: " + std::strerror(errno) + ".",
                            "08S01", lostConnection);
            bytes.remove_prefix(static_cast<size_t>(sent));
        }
    }

    static void appendInteger(std::string& bytes, unsigned value) {
        for (int i = 0; i < 4; ++i)
            bytes += static_cast<char>((value >> (8 * i)) & 0xff);
    }

    Error silent() const {
        return Error("The server " + server_ + " did not answer in time.", "08S01", lostConnection);
    }

    Error unreadable(const std::string& why) const {
        return Error("The greeting of the server " + server_ + " cannot be read (" + why + ")" +
                         nothingSent,
                     "08001");
    }

    // An error packet in place of the greeting (too many connections, a blocked host): its
    // number, then its text.
    Error refusal(const std::string& payload) const {
        const long number = payload.size() >= 3 ? static_cast<unsigned char>(payload[1]) |
                                                      static_cast<unsigned char>(payload[2]) << 8
                                                : 0;
        // A server may put "#" and a SQLSTATE before the text.
        size_t text = 3;
        if (payload.size() >= 9 && payload[3] == '#')
            text = 9;
        return Error("The server " + server_ + " refused the connection: " +
                         (payload.size() > text ? payload.substr(text) : std::string()),
                     "08004", number);
    }

    Error tlsFailure() const {
        const unsigned long code = ERR_get_error();
        ERR_clear_error();
        const char* reason = code ? ERR_reason_error_string(code) : nullptr;
        return Error(std::string("TLS/SSL error: ") +
                         (reason ? reason : "the server " + server_ + " ended the handshake"),
                     "08001", tlsError);
    }

    std::string server_;
    Clock::time_point deadline_;
    std::optional<sys::Descriptor> socket_;
};

} // namespace

std::string serverCertificateFingerprint(const std::string& server, const std::string& port,
                                         const std::string* caCertificates,
                                         Clock::time_point deadline) {
    Check check(server, deadline);
    check.connect(port.empty() ? defaultPort : port);
    if ((check.greetingFlags() & clientSsl) == 0)
        throw check.withoutTls();
    const Certificate certificate = check.handshake(caCertificates);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (X509_digest(certificate.get(), EVP_sha1(), digest, &length) != 1)
        throw Error("The fingerprint of the server's certificate cannot be computed.");
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string fingerprint;
    for (unsigned i = 0; i < length; ++i) {
        fingerprint += hex[digest[i] >> 4];
        fingerprint += hex[digest[i] & 0x0f];
    }
    return fingerprint;
}

} // namespace orv::db
