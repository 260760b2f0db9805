#include "db/Passwords.h"

#include "db/Error.h"

#include <mysql.h>
#include <mysql/plugin_auth.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace orv::db {

// Measured with a fake server that asks, after the login packet, for mysql_clear_password or
// dialog: over a plain connection, MariaDB Connector/ODBC 3.1.15 with Connector/C 3.3.20 sent the
// password as typed in every mode that allowed a plain connection (FORCETLS=1 alone too), and no
// option of the driver restricts the methods (the client library's restricted-auth is reachable
// only through the driver's reading of the user's option files, which also change the session).
// Both methods are plugins the client library loads from its plugin folder the first time a
// server asks for them, by name, from a list shared by every connection of the process; the
// driver (Debian's odbc-mariadb) uses the process's shared libmariadb.so.3. A plugin registered
// here under the same name first is the one every later connection gets. sha256_password and
// caching_sha2_password (MySQL 8) never send the password as typed: over a plain connection they
// encrypt it with the server's RSA key.

namespace {

// The layout of an authentication plugin as client_plugin.h declares it (Debian's copy of that
// header includes ma_compress.h, which the package lacks), and its constants.
struct AuthenticationPlugin {
    MYSQL_CLIENT_PLUGIN_HEADER
    int (*authenticate_user)(MYSQL_PLUGIN_VIO* vio, MYSQL* mysql);
};
constexpr int authenticationPluginType = 2;              // MYSQL_CLIENT_AUTHENTICATION_PLUGIN
constexpr unsigned authenticationPluginVersion = 0x0100; // its interface version
constexpr unsigned authenticationPluginError = 2061;     // CR_AUTH_PLUGIN_ERR

// The dialog protocol's questions: the type in the upper bits, the last question in bit 0.
constexpr unsigned char passwordQuestion = 2;
constexpr unsigned char okPacket = 0;
constexpr unsigned char switchPacket = 254;

int fail(MYSQL* mysql, const std::string& text) {
    mysql->net.last_errno = authenticationPluginError;
    std::snprintf(mysql->net.last_error, sizeof mysql->net.last_error, "%s", text.c_str());
    std::memcpy(mysql->net.sqlstate, "HY000", sizeof "HY000");
    return CR_ERROR;
}

bool encrypted(MYSQL* mysql) {
    return mysql_get_ssl_cipher(mysql) != nullptr;
}

std::string plainRefusal(const char* method) {
    return std::string("The server asked for the password as typed (") + method +
           "), which is sent only over an encrypted connection, and this one is not "
           "encrypted: the password was not sent.";
}

int sendPassword(MYSQL_PLUGIN_VIO* vio, MYSQL* mysql) {
    const char* password = mysql->passwd ? mysql->passwd : "";
    return vio->write_packet(vio, reinterpret_cast<const unsigned char*>(password),
                             static_cast<int>(std::strlen(password) + 1))
               ? CR_ERROR
               : CR_OK;
}

int clearPassword(MYSQL_PLUGIN_VIO* vio, MYSQL* mysql) {
    if (!encrypted(mysql))
        return fail(mysql, plainRefusal("mysql_clear_password"));
    return sendPassword(vio, mysql);
}

// The server asks questions until one is marked the last; the first password question is
// answered with the password. Other questions would need someone to answer them: the library's
// own dialog asks on the terminal, which a window or a job does not have.
int dialog(MYSQL_PLUGIN_VIO* vio, MYSQL* mysql) {
    if (!encrypted(mysql))
        return fail(mysql, plainRefusal("dialog"));
    for (bool first = true;; first = false) {
        unsigned char* packet = nullptr;
        const int length = vio->read_packet(vio, &packet);
        if (length < 0)
            return CR_ERROR;
        const unsigned char type = length > 0 ? packet[0] : okPacket;
        if (type == okPacket || type == switchPacket)
            return CR_OK_HANDSHAKE_COMPLETE;
        if ((type >> 1) != passwordQuestion || !first)
            return fail(mysql, "The server asked (dialog) for more than the password, which "
                               "cannot be answered here.");
        if (sendPassword(vio, mysql) != CR_OK)
            return CR_ERROR;
        if (type & 1)
            return CR_OK;
    }
}

AuthenticationPlugin guarded(const char* name, const char* description,
                             int (*authenticate)(MYSQL_PLUGIN_VIO*, MYSQL*)) {
    return {authenticationPluginType,
            authenticationPluginVersion,
            name,
            "Orvendel",
            description,
            {1, 0, 0},
            "MIT",
            nullptr,
            nullptr,
            nullptr,
            nullptr,
            authenticate};
}

// The library keeps pointers to them for the life of the process.
AuthenticationPlugin clearPasswordPlugin =
    guarded("mysql_clear_password", "The password as typed, over TLS only", clearPassword);
AuthenticationPlugin dialogPlugin =
    guarded("dialog", "The password question, over TLS only", dialog);

// Empty when both are in place.
std::string registerPlugins() {
    MYSQL* mysql = mysql_init(nullptr);
    if (!mysql)
        return "The client library could not be started.";
    std::string failure;
    for (AuthenticationPlugin* plugin : {&clearPasswordPlugin, &dialogPlugin}) {
        auto* generic = reinterpret_cast<st_mysql_client_plugin*>(plugin);
        mysql_client_register_plugin(mysql, generic);
        // One loaded earlier (LIBMYSQL_PLUGINS) keeps its place: then the library's is used.
        if (mysql_client_find_plugin(mysql, plugin->name, authenticationPluginType) != generic)
            failure = std::string("The client library's ") + plugin->name +
                      " authentication could not be restricted to encrypted connections, so no "
                      "connection is made.";
    }
    mysql_close(mysql);
    return failure;
}

} // namespace

void refuseClearTextPasswordsOnPlainConnections() {
    static std::once_flag once;
    static std::string failure;
    std::call_once(once, [] { failure = registerPlugins(); });
    if (!failure.empty())
        throw Error(failure);
}

} // namespace orv::db
