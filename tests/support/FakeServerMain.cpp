// fake-mysql-server GREETING [AUTHENTICATION [PACE_MS]]: a fake MySQL server on a loopback port,
// for trying a client by hand. Prints "port N", serves until standard input ends, then prints
// what each connection sent, escaped. GREETING is one of plain, tls, tls-to-first-only,
// other-certificate-after-first, long-version, unended-version, trickled, two-stalls,
// endless-tls-handshake; AUTHENTICATION is the method asked for after the login
// ("mysql_clear_password", "dialog", or "-" for none).

#include "support/FakeServer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    using orv::test::Greeting;
    const std::pair<const char*, Greeting> names[] = {
        {"plain", Greeting::plain},
        {"tls", Greeting::tls},
        {"tls-to-first-only", Greeting::tlsToFirstOnly},
        {"other-certificate-after-first", Greeting::otherCertificateAfterFirst},
        {"long-version", Greeting::longVersion},
        {"unended-version", Greeting::unendedVersion},
        {"trickled", Greeting::trickled},
        {"two-stalls", Greeting::twoStalls},
        {"endless-tls-handshake", Greeting::endlessTlsHandshake}};
    orv::test::FakeServerSetup setup;
    bool known = false;
    for (const auto& [name, greeting] : names)
        if (argc > 1 && std::strcmp(argv[1], name) == 0) {
            setup.greeting = greeting;
            known = true;
        }
    if (!known) {
        std::fputs("usage: fake-mysql-server GREETING [AUTHENTICATION [PACE_MS]]\n", stderr);
        return 2;
    }
    if (argc > 2 && std::strcmp(argv[2], "-") != 0)
        setup.authenticationSwitch = argv[2];
    if (argc > 3)
        setup.pace = std::chrono::milliseconds(std::atoi(argv[3]));
    orv::test::FakeServer server(setup);
    std::cout << "port " << server.port() << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    for (const std::string& connection : server.received())
        std::cout << "connection: " << orv::test::escapedBytes(connection) << "\n";
}
