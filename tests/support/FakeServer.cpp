#include "support/FakeServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace orv::test {

namespace {

template <auto Free> struct Freer {
    template <class T> void operator()(T* object) const noexcept { Free(object); }
};
using Key = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Freer<X509_free>>;
using Context = std::unique_ptr<SSL_CTX, Freer<SSL_CTX_free>>;
using Session = std::unique_ptr<SSL, Freer<SSL_free>>;

struct Identity {
    Key key;
    Certificate certificate;
    std::string pem;
};

// A self-signed certificate that may serve as its own authority.
Identity selfSigned(const char* name) {
    Identity identity{Key(EVP_EC_gen("P-256")), Certificate(X509_new()), {}};
    X509* x509 = identity.certificate.get();
    X509_set_version(x509, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x509), 1);
    X509_gmtime_adj(X509_getm_notBefore(x509), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x509), 7 * 24 * 3600);
    X509_set_pubkey(x509, identity.key.get());
    X509_NAME* subject = X509_get_subject_name(x509);
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(name), -1, -1, 0);
    X509_set_issuer_name(x509, subject);
    X509V3_CTX context;
    X509V3_set_ctx(&context, x509, x509, nullptr, nullptr, 0);
    for (const auto& [nid, value] : {std::pair{NID_basic_constraints, "critical,CA:TRUE"},
                                     std::pair{NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost"}})
        if (X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value)) {
            X509_add_ext(x509, extension, -1);
            X509_EXTENSION_free(extension);
        }
    if (!identity.key || X509_sign(x509, identity.key.get(), EVP_sha256()) == 0)
        throw std::runtime_error("cannot make a test certificate");
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, x509);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    identity.pem.assign(data, static_cast<size_t>(length));
    BIO_free(bio);
    return identity;
}

const Identity& serverIdentity() {
    static const Identity identity = selfSigned("127.0.0.1");
    return identity;
}

const Identity& otherIdentity() {
    static const Identity identity = selfSigned("Another authority");
    return identity;
}

// Capability flags of the greeting: a MySQL 8.0 server (CLIENT_LONG_PASSWORD, which MariaDB
// servers leave out), protocol 4.1, authentication plugins, and TLS when offered.
constexpr unsigned plainCapabilities =
    0x0001 | 0x0002 | 0x0004 | 0x0008 | 0x0010 | 0x0040 | 0x0080 | 0x0100 | 0x0200 | 0x0400 |
    0x1000 | 0x2000 | 0x8000 | 0x10000 | 0x20000 | 0x40000 | 0x80000 | 0x100000 | 0x200000;
constexpr unsigned tlsCapability = 0x0800;
constexpr size_t sslRequestBytes = 32;

std::string packet(unsigned char sequence, std::string_view payload) {
    std::string bytes{
        static_cast<char>(payload.size() & 0xff), static_cast<char>((payload.size() >> 8) & 0xff),
        static_cast<char>((payload.size() >> 16) & 0xff), static_cast<char>(sequence)};
    bytes.append(payload);
    return bytes;
}

std::string greeting(bool tls, std::string_view version, bool versionEnds) {
    const unsigned flags = plainCapabilities | (tls ? tlsCapability : 0);
    std::string payload = "\x0a";
    payload += version;
    if (!versionEnds)
        return packet(0, payload + std::string(40, 'u'));
    payload += '\0';
    payload += std::string("\x07\0\0\0", 4) + "abcdefgh" + '\0';
    payload += static_cast<char>(flags & 0xff);
    payload += static_cast<char>((flags >> 8) & 0xff);
    payload += std::string("\x2d\x02\x00", 3); // character set, status
    payload += static_cast<char>((flags >> 16) & 0xff);
    payload += static_cast<char>((flags >> 24) & 0xff);
    payload += '\x15';
    payload += std::string(10, '\0');
    payload += std::string("ijklmnopqrst") + '\0' + "mysql_native_password" + '\0';
    return packet(0, payload);
}

} // namespace

struct FakeServer::State {
    FakeServerSetup setup;
    int listener = -1;
    int port = 0;
    mutable std::mutex mutex;
    std::condition_variable stop;
    bool stopping = false;
    std::vector<std::string> received;
    std::vector<int> sockets;
    std::vector<std::thread> threads;
    std::thread acceptor;

    // Waits for a pause; false when the server stops first.
    bool pause(std::chrono::milliseconds length) {
        std::unique_lock lock(mutex);
        return !stop.wait_for(lock, length, [this] { return stopping; });
    }

    void log(size_t connection, std::string_view bytes) {
        std::lock_guard lock(mutex);
        received[connection].append(bytes);
    }

    void accept() {
        for (;;) {
            pollfd ready{listener, POLLIN, 0};
            ::poll(&ready, 1, 100);
            std::lock_guard lock(mutex);
            if (stopping)
                return;
            if (!(ready.revents & POLLIN))
                continue;
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            sockets.push_back(fd);
            received.emplace_back();
            threads.emplace_back([this, fd, index = received.size() - 1] { serve(fd, index); });
        }
    }

    void serve(int fd, size_t index) {
        // OpenSSL writes with write(): a client gone must not end the test with SIGPIPE. The
        // signal goes to the writing thread, which holds it pending until it ends.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        Connection connection{*this, fd, index};
        connection.run();
    }

    class Connection {
    public:
        Connection(State& state, int fd, size_t index) : state_(state), fd_(fd), index_(index) {}

        void run() {
            const Greeting kind = state_.setup.greeting;
            const bool tls = kind == Greeting::tls || kind == Greeting::endlessTlsHandshake ||
                             kind == Greeting::otherCertificateAfterFirst ||
                             (kind == Greeting::tlsToFirstOnly && index_ == 0);
            const std::string hello =
                greeting(tls, kind == Greeting::longVersion ? std::string(600, 'v') : "8.0.36-fake",
                         kind != Greeting::unendedVersion);
            if (kind == Greeting::trickled) {
                for (char byte : hello)
                    if (!sendPlain(std::string_view(&byte, 1)) || !state_.pause(state_.setup.pace))
                        return;
            } else if (kind == Greeting::twoStalls) {
                const size_t third = hello.size() / 3;
                if (!sendPlain(hello.substr(0, third)) || !state_.pause(state_.setup.pace) ||
                    !sendPlain(hello.substr(third, third)) || !state_.pause(state_.setup.pace) ||
                    !sendPlain(hello.substr(2 * third)))
                    return;
            } else if (!sendPlain(hello)) {
                return;
            }
            std::string login;
            if (!readPacket(login))
                return;
            if (tls && login.size() == sslRequestBytes) {
                if (kind == Greeting::endlessTlsHandshake) {
                    // A TLS record header that announces 16 KB, then its bytes one by one.
                    if (!sendPlain(std::string("\x16\x03\x03\x40\x00", 5)))
                        return;
                    while (state_.pause(state_.setup.pace))
                        if (!sendPlain(std::string(1, '\0')))
                            return;
                    return;
                }
                if (!startTls() || !readPacket(login))
                    return;
            }
            const unsigned char next = static_cast<unsigned char>(sequence_ + 1);
            if (!state_.setup.authenticationSwitch.empty()) {
                std::string request = "\xfe" + state_.setup.authenticationSwitch + '\0';
                // dialog asks its questions: 2 for a password, shifted, and 1 for the last one.
                request += state_.setup.authenticationSwitch == "dialog" ? "\x05Password: "
                                                                         : std::string(1, '\0');
                std::string answer;
                if (!send(packet(next, request)) || !readPacket(answer))
                    return;
            }
            send(packet(static_cast<unsigned char>(sequence_ + 1),
                        "\xff\x15\x04#28000Access denied for user (fake server)"));
        }

    private:
        bool sendPlain(std::string_view bytes) {
            while (!bytes.empty()) {
                const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
                if (sent <= 0)
                    return false;
                bytes.remove_prefix(static_cast<size_t>(sent));
            }
            return true;
        }

        bool send(std::string_view bytes) {
            if (!tls_)
                return sendPlain(bytes);
            return SSL_write(tls_.get(), bytes.data(), static_cast<int>(bytes.size())) > 0;
        }

        bool receive(char* buffer, size_t size, size_t& got) {
            const ssize_t n = tls_ ? SSL_read(tls_.get(), buffer, static_cast<int>(size))
                                   : ::recv(fd_, buffer, size, 0);
            if (n <= 0)
                return false;
            got = static_cast<size_t>(n);
            state_.log(index_, std::string_view(buffer, got));
            return true;
        }

        bool readPacket(std::string& payload) {
            std::string bytes;
            char buffer[4096];
            auto wanted = [&bytes]() -> size_t {
                if (bytes.size() < 4)
                    return 4;
                return 4 + (static_cast<size_t>(static_cast<unsigned char>(bytes[0])) |
                            static_cast<size_t>(static_cast<unsigned char>(bytes[1])) << 8 |
                            static_cast<size_t>(static_cast<unsigned char>(bytes[2])) << 16);
            };
            while (bytes.size() < wanted()) {
                size_t got = 0;
                if (!receive(buffer, std::min(wanted() - bytes.size(), sizeof buffer), got))
                    return false;
                bytes.append(buffer, got);
            }
            sequence_ = static_cast<unsigned char>(bytes[3]);
            payload = bytes.substr(4);
            return true;
        }

        bool startTls() {
            context_.reset(SSL_CTX_new(TLS_server_method()));
            const Identity& identity =
                state_.setup.greeting == Greeting::otherCertificateAfterFirst && index_ > 0
                    ? otherIdentity()
                    : serverIdentity();
            if (!context_ ||
                SSL_CTX_use_certificate(context_.get(), identity.certificate.get()) != 1 ||
                SSL_CTX_use_PrivateKey(context_.get(), identity.key.get()) != 1)
                return false;
            tls_.reset(SSL_new(context_.get()));
            SSL_set_fd(tls_.get(), fd_);
            if (SSL_accept(tls_.get()) != 1) {
                tls_.reset();
                return false;
            }
            return true;
        }

        State& state_;
        int fd_;
        size_t index_;
        unsigned char sequence_ = 0;
        Context context_;
        Session tls_;
    };
};

FakeServer::FakeServer(FakeServerSetup setup) : state_(std::make_shared<State>()) {
    state_->setup = std::move(setup);
    state_->listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (state_->listener < 0 ||
        ::bind(state_->listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(state_->listener, 16) != 0 ||
        ::getsockname(state_->listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("the fake server cannot listen on a loopback port");
    state_->port = ntohs(address.sin_port);
    serverIdentity();
    state_->acceptor = std::thread([state = state_.get()] { state->accept(); });
}

FakeServer::~FakeServer() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        // Ends every blocking read, write and handshake of the connections.
        for (int fd : state_->sockets)
            ::shutdown(fd, SHUT_RDWR);
    }
    state_->stop.notify_all();
    state_->acceptor.join();
    for (std::thread& thread : state_->threads)
        thread.join();
    for (int fd : state_->sockets)
        ::close(fd);
    ::close(state_->listener);
}

int FakeServer::port() const noexcept {
    return state_->port;
}

std::vector<std::string> FakeServer::received() const {
    std::lock_guard lock(state_->mutex);
    return state_->received;
}

bool FakeServer::received(std::string_view bytes) const {
    std::lock_guard lock(state_->mutex);
    for (const std::string& connection : state_->received)
        if (connection.find(bytes) != std::string::npos)
            return true;
    return false;
}

const std::string& FakeServer::certificatePem() {
    return serverIdentity().pem;
}

const std::string& FakeServer::otherCertificatePem() {
    return otherIdentity().pem;
}

std::string escapedBytes(std::string_view bytes) {
    std::string text;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
            text += c;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            text += hex;
        }
    }
    return text;
}

} // namespace orv::test
