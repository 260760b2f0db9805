#pragma once

#include "db/Error.h"
#include "db/Login.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace orv::cli {

inline constexpr const char* commandName = "orvendel-export";

// Exit statuses.
inline constexpr int exported = 0;
inline constexpr int exportedWithUnreadableTables = 1;
inline constexpr int nothingExported = 2;

// A command line that cannot be obeyed; the text says why.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Options {
    std::optional<std::string> server;
    std::optional<std::string> port;
    std::optional<std::string> user;
    std::optional<std::string> database;
    std::optional<db::TlsMode> sslMode; // after parsing: set whenever sslCa is
    std::optional<std::string> sslCa;
    bool passwordStdin = false;
    bool list = false;
    bool all = false;
    std::optional<std::string> output; // absent: standard output
    std::vector<std::string> tables;   // as given, each once
    bool help = false;
    bool version = false;
};

// Throws UsageError. Arguments are taken as bytes: table names are passed on untouched.
Options parseOptions(const std::vector<std::string>& arguments);

// The stored login with the command line's values put over it; the password is left as stored.
db::Login overriddenLogin(const db::Login& stored, const Options& options);

// The stored password is sent only to the server, port and user it was stored for; ports are
// compared as numbers.
bool storedPasswordApplies(const db::Login& stored, const db::Login& effective);

struct Selection {
    std::vector<std::string> tables;  // in the order of the table list
    std::vector<std::string> missing; // asked for but not in the table list, in the order given
};

Selection selectTables(const std::vector<std::string>& listed, const Options& options);

// The standard streams the command works with.
struct Console {
    int in = 0;
    int out = 1;
    int err = 2;
};

// The descriptor a path names when it stands for an open descriptor ("-", /dev/stdout,
// /dev/fd/N, ...): such a path must not be replaced by a file of its own.
std::optional<int> descriptorPath(std::string_view path, const Console& console);

std::string usageText();
std::string versionText();

// Runs the command and returns its exit status; every failure is one line on console.err.
int run(const std::vector<std::string>& arguments, const Console& console = {});

} // namespace orv::cli
