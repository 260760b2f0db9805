#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace orv::test {

namespace {
std::string env(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value)
        throw std::runtime_error(std::string(name) +
                                 " is not set: run the tests through scripts/test.sh");
    return value;
}

int boundSocket() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot bind a loopback socket");
    return fd;
}

int portOf(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}
} // namespace

db::Login serverLogin(const std::string& database) {
    return {env("ORVENDEL_TEST_HOST"), env("ORVENDEL_TEST_USER"), env("ORVENDEL_TEST_PASSWORD"),
            database, env("ORVENDEL_TEST_PORT")};
}

std::string rootClientCommand() {
    return "mariadb --no-defaults -uroot --socket='" + env("ORVENDEL_TEST_SOCKET") +
           "' --default-character-set=utf8mb4";
}

void sql(const std::string& statements) {
    FILE* pipe = ::popen(rootClientCommand().c_str(), "w");
    ASSERT_NE(pipe, nullptr);
    std::fwrite(statements.data(), 1, statements.size(), pipe);
    int status = ::pclose(pipe);
    ASSERT_EQ(status, 0) << "SQL failed:\n" << statements;
}

std::string queryValue(const std::string& query) {
    std::string quoted = "'";
    for (char c : query)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    const std::string command = rootClientCommand() + " -N -B -e " + quoted + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        throw std::runtime_error("cannot run the mariadb client");
    std::string value;
    char buffer[256];
    while (size_t got = std::fread(buffer, 1, sizeof buffer, pipe))
        value.append(buffer, got);
    if (::pclose(pipe) != 0)
        throw std::runtime_error("query failed: " + query);
    const size_t end = value.find_first_of("\t\n");
    return value.substr(0, end);
}

void recreateDatabase(const std::string& name) {
    sql("DROP DATABASE IF EXISTS `" + name + "`; CREATE DATABASE `" + name + "`;");
}

SilentListener::SilentListener() : fd_(boundSocket()), port_(portOf(fd_)) {
    // The kernel completes the handshake from the backlog; nobody ever reads or writes.
    ::listen(fd_, 16);
}

SilentListener::~SilentListener() {
    ::close(fd_);
}

int closedPort() {
    int fd = boundSocket();
    int port = portOf(fd);
    ::close(fd);
    return port;
}

} // namespace orv::test
