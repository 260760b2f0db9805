#include "cli/ExportCommand.h"

#include "cli/Terminal.h"
#include "db/Catalogue.h"
#include "report/ReportFormat.h"
#include "report/StructureExport.h"
#include "settings/Settings.h"
#include "sys/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <new>
#include <set>

namespace orv::cli {

namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::optional<int> parseNumber(std::string_view text) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// The MySQL clients' names, also in their upper-case spelling (VERIFY_CA).
std::optional<db::TlsMode> parseTlsMode(std::string text) {
    for (char& c : text)
        c = c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::pair<const char*, db::TlsMode> modes[] = {
        {"preferred", db::TlsMode::preferred},
        {"required", db::TlsMode::required},
        {"verify-ca", db::TlsMode::verifyCa},
        {"verify-identity", db::TlsMode::verifyIdentity}};
    for (const auto& [name, mode] : modes)
        if (text == name)
            return mode;
    return std::nullopt;
}

void addOnce(std::vector<std::string>& names, const std::string& name) {
    if (std::find(names.begin(), names.end(), name) == names.end())
        names.push_back(name);
}

db::Login storedLogin(const settings::StoredLogin& stored) {
    return {stored.server.toStdString(), stored.user.toStdString(), stored.password.toStdString(),
            stored.database.toStdString(), stored.port.toStdString()};
}

// Ports are numbers: 03306 is 3306, and an empty port is the default one.
bool samePort(const std::string& one, const std::string& other) {
    const auto number = [](const std::string& port) {
        return parseNumber(port.empty() ? settings::defaultPort : port);
    };
    const std::optional<int> first = number(one);
    const std::optional<int> second = number(other);
    return first && second ? *first == *second : one == other;
}

// The report goes to a file first even for a descriptor, so that a failed export leaves
// nothing half-written there either.
class Spool {
public:
    Spool() : folder_("orvendel-export", "report.txt") {
        if (folder_.path().empty())
            throw Error("Cannot create a temporary folder in " + sys::TemporaryFolder::parent() +
                        ": " + std::strerror(folder_.error()));
    }

    std::string path() const { return folder_.filePath(); }

    void copyTo(int fd, const std::string& name) {
        int in = ::open(path().c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0)
            throw Error("Cannot read the report " + path() + ": " + std::strerror(errno));
        // Gone from the disk before the copy, which a closed pipe may end by SIGPIPE.
        ::unlink(path().c_str());
        ::rmdir(folder_.path().c_str());
        char buffer[64 * 1024];
        int failure = 0;
        for (;;) {
            ssize_t got = ::read(in, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                ::close(in);
                throw Error("Cannot read the report: " + std::string(std::strerror(errno)));
            }
            if (got == 0)
                break;
            if (!writeOutput(fd, std::string_view(buffer, static_cast<size_t>(got)))) {
                failure = errno;
                break;
            }
        }
        ::close(in);
        if (failure != 0)
            throw Error("Cannot write the report to " + name + ": " + std::strerror(failure));
    }

private:
    sys::TemporaryFolder folder_;
};

class Command {
public:
    Command(const Options& options, const Console& console)
        : options_(options), console_(console), progress_(console.err) {}

    int run() {
        // The earlier report is read first: a file that cannot be checked needs no login.
        std::optional<report::Snapshot> recorded;
        if (options_.check) {
            const std::optional<std::string> text = sys::readAll(*options_.check);
            if (!text) {
                error("cannot read " + *options_.check + ": " + std::strerror(errno));
                return checkFileUnusable;
            }
            try {
                recorded = report::parseReport(*text);
            } catch (const Error& e) {
                error("cannot check against " + *options_.check + ": " + e.what());
                return checkFileUnusable;
            }
        }
        db::Login login = this->login();
        progress_.show("Reading the table list of " + login.database + " on " + login.server);
        // One connection lists and exports: an account allowed a single connection at a time
        // must not depend on the server having let go of an earlier one.
        db::Session session;
        session.open(login);
        std::vector<std::string> listed =
            session.use([](db::Connection& connection) { return db::listTables(connection); });
        if (options_.list)
            return printList(listed);

        Selection selection = selectTables(listed, options_);
        if (recorded)
            return check(session, std::move(selection), *recorded);
        for (const std::string& name : selection.missing)
            reportMissing(name, login.database);
        if (selection.tables.empty()) {
            if (selection.missing.empty())
                error("database " + login.database + " has no tables to export");
            return nothingExported;
        }
        size_t unreadable = exportTables(session, std::move(selection.tables));
        return unreadable + selection.missing.size() == 0 ? exported : exportedWithUnreadableTables;
    }

    void error(const std::string& text) {
        progress_.clear();
        std::string line = text;
        std::replace(line.begin(), line.end(), '\n', ' ');
        sys::writeAll(console_.err, std::string(commandName) + ": " + printable(line) + "\n");
    }

private:
    class CommandExportStatus;

    db::Login login() {
        const settings::StoredLogin saved = settings::readStoredLogin();
        if (!saved.warning.isEmpty())
            error("warning: " + saved.warning.toStdString());
        const db::Login stored = storedLogin(saved);
        db::Login login = overriddenLogin(stored, options_);
        if (options_.passwordStdin) {
            login.password = readPasswordLine(console_.in, "standard input");
        } else if (!storedPasswordApplies(stored, login) || stored.password.empty()) {
            // Without a terminal there is nobody to ask: an account without password may
            // still do.
            login.password =
                promptPassword(printable("Password for " + login.user + "@" + login.server + ": "))
                    .value_or("");
        }
        return login;
    }

    int printList(const std::vector<std::string>& names) {
        progress_.clear();
        std::string text;
        for (const std::string& name : names)
            text += report::escapedName(name) + "\n";
        if (!writeOutput(console_.out, text))
            throw Error(std::string("Cannot write the table list: ") + std::strerror(errno));
        return exported;
    }

    void reportMissing(const std::string& name, const std::string& database) {
        error(db::isListedTable(name)
                  ? "table " + db::quotedName(name) + " is not in database " + database
                  : "table " + db::quotedName(name) +
                        " is left out: names starting with \"sys\" are not exported");
    }

    // Compares the live tables with the earlier report, as far as its format records them.
    int check(db::Session& session, Selection selection, report::Snapshot& recorded) {
        const db::Login& login = session.login();
        const report::Format format = recorded.format;
        const auto recordedName = [format](const std::string& name) {
            return format == report::Format::text ? report::escapedName(name) : name;
        };
        // Named tables: only those are compared; one gone from the database is a difference
        // when the report has it.
        if (!options_.all) {
            std::set<std::string> named;
            for (const std::string& name : options_.tables)
                named.insert(recordedName(name));
            std::erase_if(recorded.tables, [&named](const report::TableRecord& table) {
                return !named.contains(table.name);
            });
        }
        size_t notChecked = 0;
        for (const std::string& name : selection.missing) {
            if (std::none_of(recorded.tables.begin(), recorded.tables.end(),
                             [&](const report::TableRecord& table) {
                                 return table.name == recordedName(name);
                             })) {
                reportMissing(name, login.database);
                ++notChecked;
            }
        }
        std::vector<report::TableRecord> live;
        std::set<std::string> unreadable;
        if (!selection.tables.empty()) {
            // No path: the tables are recorded, nothing is written.
            report::StructureExport job(session, std::move(selection.tables), {},
                                        std::make_unique<report::RecordFormat>(format, live));
            CommandExportStatus status(*this, &unreadable);
            runJob(job, status, session, "nothing was checked");
            progress_.clear();
        }
        // An unreadable table is not checked, and never passes for an unchanged one.
        std::set<std::string> unreadableNames;
        for (const std::string& name : unreadable)
            unreadableNames.insert(recordedName(name));
        const auto isUnreadable = [&](const report::TableRecord& table) {
            return unreadableNames.contains(table.name);
        };
        std::erase_if(live, isUnreadable);
        std::erase_if(recorded.tables, isUnreadable);
        notChecked += unreadable.size();

        const std::vector<std::string> lines = report::differences(recorded.tables, live);
        std::string text;
        for (const std::string& line : lines)
            text += printable(line) + "\n";
        const std::string file = printable(*options_.check);
        if (lines.empty())
            text += "The structure of " + std::to_string(live.size()) +
                    (live.size() == 1 ? " table matches " : " tables matches ") + file + "\n";
        else
            text += std::to_string(lines.size()) +
                    (lines.size() == 1 ? " difference from " : " differences from ") + file + "\n";
        if (!writeOutput(console_.out, text))
            throw Error(std::string("Cannot write the differences: ") + std::strerror(errno));
        if (notChecked > 0) {
            error(std::to_string(notChecked) + (notChecked == 1 ? " table was" : " tables were") +
                  " not checked");
            return exportedWithUnreadableTables;
        }
        return lines.empty() ? exported : structureDiffers;
    }

    // Runs an export. Once the connection is lost (and cannot be opened again) no later table
    // can be read either: one error ends it rather than one for every table left.
    void runJob(report::StructureExport& job, CommandExportStatus& status,
                const db::Session& session, const std::string& outcome) {
        try {
            job.run(status);
        } catch (const Error& e) {
            if (job.step() != report::ExportStep::readTable)
                throw;
            throw Error("the connection to " + session.login().server +
                            " was lost while reading table " + db::quotedName(job.table()) + ", " +
                            outcome + ": " + e.what(),
                        e.sqlState(), e.nativeCode());
        }
    }

    size_t exportTables(db::Session& session, std::vector<std::string> tables) {
        const std::optional<int> descriptor = options_.output
                                                  ? descriptorPath(*options_.output, console_)
                                                  : std::optional<int>(console_.out);
        std::optional<Spool> spool;
        if (descriptor)
            spool.emplace();
        std::unique_ptr<report::ReportFormat> format;
        if (options_.format.value_or(report::Format::text) == report::Format::text)
            format = std::make_unique<report::TextFormat>();
        else
            format = std::make_unique<report::DocumentFormat>(*options_.format);
        report::StructureExport job(session, std::move(tables),
                                    spool ? spool->path() : *options_.output, std::move(format));
        CommandExportStatus status(*this);
        runJob(job, status, session, "no report written");
        progress_.clear();
        if (spool) {
            const std::string name = *descriptor == console_.out ? "standard output"
                                     : *descriptor == console_.err
                                         ? "standard error"
                                         : "descriptor " + std::to_string(*descriptor);
            spool->copyTo(*descriptor, name);
        }
        return job.unreadableTables();
    }

    // Shows which table is being read, and reports an unreadable table, which is written
    // without columns; every other failure ends the command.
    class CommandExportStatus : public report::ExportStatus {
    public:
        explicit CommandExportStatus(Command& command, std::set<std::string>* unreadable = nullptr)
            : command_(command), unreadable_(unreadable) {}

        bool wait(const std::function<void()>& work) override {
            work();
            return true;
        }
        void started(const std::vector<std::string>& tables) override {
            tables_ = &tables;
            reading(0);
        }
        bool tableRead(size_t index) override {
            reading(index + 1);
            return true;
        }
        bool tableUnreadable(size_t index, const Error& error) override {
            command_.error("table " + db::quotedName((*tables_)[index]) + ": " + error.what());
            if (unreadable_)
                unreadable_->insert((*tables_)[index]);
            reading(index + 1);
            return true;
        }

    private:
        void reading(size_t index) {
            if (index < tables_->size())
                command_.progress_.show("Table " + std::to_string(index + 1) + " of " +
                                        std::to_string(tables_->size()) + ": " + (*tables_)[index]);
        }

        Command& command_;
        const std::vector<std::string>* tables_ = nullptr;
        std::set<std::string>* unreadable_; // the tables not read, for a check
    };

    const Options& options_;
    const Console& console_;
    ProgressLine progress_;
};

} // namespace

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    std::vector<std::string> names;
    bool onlyNames = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (onlyNames || argument == "-" || !startsWith(argument, "-")) {
            addOnce(names, argument);
            continue;
        }
        if (argument == "--") {
            onlyNames = true;
            continue;
        }
        std::string name = argument;
        std::optional<std::string> attached;
        if (startsWith(argument, "--")) {
            size_t equals = argument.find('=');
            if (equals != std::string::npos) {
                name = argument.substr(0, equals);
                attached = argument.substr(equals + 1);
            }
        } else if (argument.size() > 2) {
            name = argument.substr(0, 2);
            attached = argument.substr(2);
        }
        auto value = [&]() -> std::string {
            if (attached)
                return *attached;
            if (i + 1 == arguments.size())
                throw UsageError("option " + name + " needs a value");
            return arguments[++i];
        };
        auto flag = [&](bool& target) {
            if (attached)
                throw UsageError("option " + name + " takes no value");
            target = true;
        };
        if (name == "--server")
            options.server = value();
        else if (name == "--port")
            options.port = value();
        else if (name == "--user")
            options.user = value();
        else if (name == "--database")
            options.database = value();
        else if (name == "--ssl-mode") {
            const std::string mode = value();
            options.sslMode = parseTlsMode(mode);
            if (!options.sslMode)
                throw UsageError("--ssl-mode " + mode +
                                 " is not one of preferred, required, verify-ca, verify-identity");
        } else if (name == "--ssl-ca")
            options.sslCa = value();
        else if (name == "-o" || name == "--output")
            options.output = value();
        else if (name == "--format") {
            const std::string format = value();
            options.format = report::formatNamed(format);
            if (!options.format)
                throw UsageError("--format " + format + " is not one of text, markdown, json");
        } else if (name == "--check")
            options.check = value();
        else if (name == "--password-stdin")
            flag(options.passwordStdin);
        else if (name == "--list")
            flag(options.list);
        else if (name == "--all")
            flag(options.all);
        else if (name == "--help")
            flag(options.help);
        else if (name == "--version")
            flag(options.version);
        else if (name == "--password" || name == "-p")
            throw UsageError("a password is never taken from the command line: it is read from "
                             "the saved login, from standard input with --password-stdin, or "
                             "from the terminal");
        else
            throw UsageError("unknown option " + argument);
    }
    options.tables = std::move(names);
    if (options.help || options.version)
        return options;

    if (options.port) {
        std::optional<int> port = parseNumber(*options.port);
        if (!port || *port < 1 || *port > 65535)
            throw UsageError("port " + *options.port + " is not a number from 1 to 65535");
        // A number: 03306 is 3306.
        options.port = std::to_string(*port);
    }
    if (options.sslCa) {
        if (options.sslCa->empty())
            throw UsageError("the --ssl-ca file name is empty");
        if (!options.sslMode)
            options.sslMode = db::TlsMode::verifyCa;
        else if (*options.sslMode != db::TlsMode::verifyCa &&
                 *options.sslMode != db::TlsMode::verifyIdentity)
            throw UsageError("--ssl-ca is used only with --ssl-mode verify-ca or verify-identity");
    } else if (options.sslMode == db::TlsMode::verifyCa ||
               options.sslMode == db::TlsMode::verifyIdentity) {
        throw UsageError("--ssl-mode verify-ca and verify-identity need --ssl-ca FILE");
    }
    if (options.output && options.output->empty())
        throw UsageError("the output file name is empty");
    if (options.list && (options.all || !options.tables.empty() || options.output))
        throw UsageError("--list takes no table names, --all or --output");
    if (options.list && (options.format || options.check))
        throw UsageError("--list takes no --format or --check");
    if (options.check && options.check->empty())
        throw UsageError("the --check file name is empty");
    if (options.check && (options.output || options.format))
        throw UsageError("--check writes no report: it takes no --output or --format, and reads "
                         "the file's own format");
    if (options.all && !options.tables.empty())
        throw UsageError("give table names or --all, not both");
    if (!options.list && !options.all && options.tables.empty())
        throw UsageError("name the tables to report, or give --all or --list");
    return options;
}

db::Login overriddenLogin(const db::Login& stored, const Options& options) {
    db::Login login = stored;
    login.server = options.server.value_or(stored.server);
    login.port = options.port.value_or(stored.port);
    login.user = options.user.value_or(stored.user);
    login.database = options.database.value_or(stored.database);
    login.tlsMode = options.sslMode.value_or(db::TlsMode::preferred);
    login.tlsCaFile = options.sslCa.value_or("");
    return login;
}

bool storedPasswordApplies(const db::Login& stored, const db::Login& effective) {
    return stored.server == effective.server && samePort(stored.port, effective.port) &&
           stored.user == effective.user;
}

Selection selectTables(const std::vector<std::string>& listed, const Options& options) {
    Selection selection;
    if (options.all) {
        selection.tables = listed;
        return selection;
    }
    for (const std::string& name : listed)
        if (std::find(options.tables.begin(), options.tables.end(), name) != options.tables.end())
            addOnce(selection.tables, name);
    for (const std::string& name : options.tables)
        if (std::find(listed.begin(), listed.end(), name) == listed.end())
            selection.missing.push_back(name);
    return selection;
}

std::optional<int> descriptorPath(std::string_view path, const Console& console) {
    if (path == "-" || path == "/dev/stdout")
        return console.out;
    if (path == "/dev/stderr")
        return console.err;
    if (path == "/dev/stdin")
        return console.in;
    for (std::string_view folder : {"/dev/fd/", "/proc/self/fd/"})
        if (startsWith(path, folder))
            if (std::optional<int> fd = parseNumber(path.substr(folder.size())); fd && *fd >= 0)
                return *fd == 0   ? console.in
                       : *fd == 1 ? console.out
                       : *fd == 2 ? console.err
                                  : *fd;
    return std::nullopt;
}

std::string usageText() {
    return R"(Usage: orvendel-export [OPTION]... TABLE...
  or:  orvendel-export [OPTION]... --all
  or:  orvendel-export [OPTION]... --list
  or:  orvendel-export [OPTION]... --check FILE (TABLE... | --all)
Write the structure report of MySQL tables, the same report the Orvendel desktop program
writes, without a display; or check that tables still have the structure a report records.

The login is the one Orvendel saved, with these values put over it:
      --server=HOST      server name or address
      --port=PORT        TCP port, a whole number from 1 to 65535
      --user=NAME        user name
      --database=NAME    database
      --password-stdin   read the password from the first line of standard input
The saved password is only sent to the saved server, port and user. When it is not
used and --password-stdin is not given, the password is asked for on the terminal
without echo; with no terminal, the password is empty.

The connection is encrypted whenever the server offers TLS, as with the mysql and
mariadb clients: the password and the table structures then travel encrypted.
      --ssl-mode=MODE    preferred: encrypted when the server offers it (the default);
                         required: encrypted or no connection, the certificate not
                         checked; verify-ca: also check that the server's certificate
                         comes from the --ssl-ca authority; verify-identity: also
                         check that it was issued for the --server name
      --ssl-ca=FILE      certificate authority file (PEM) for the verify modes; given
                         alone it means --ssl-mode verify-ca
Except in preferred mode, nothing of the login is sent to a server that offers no
TLS. In every mode a password asked for as typed is sent only over TLS, and opening
the connection ends within 20 seconds. Blanks around the server name are ignored.

      --list             print the table names, one a line, as Orvendel lists them
      --all              report every listed table
  -o, --output=FILE      write the report to FILE, which is only replaced once the
                         report is complete (default: standard output)
      --format=FORMAT    text: the desktop program's report (the default);
                         markdown: a document with each table's kind, engine and
                         comment and each column's declared type, nullability, key,
                         default, extra and comment; json: the same for programs
                         (docs/structure.schema.json)
      --check=FILE       compare the tables with FILE, an earlier report of any format,
                         as far as its format records them; print the differences
                         and write no report
      --help             display this help and exit
      --version          output version information and exit

Tables are reported in the order of the table list, each once. Names starting with
"sys" in any letter case are not listed. Use -- before table names starting with "-".

Exit status:
 0  the report was written
 1  the report was written, but some tables could not be read or were not found
 2  nothing was exported (bad usage, no connection or a lost one, output not writable)
A reader that stops reading standard output early ends the command by SIGPIPE, as it
ends other filters.
With --check:
 0  the tables have the structure FILE records
 1  some tables could not be read or were not found: they were not checked
 2  bad usage, no connection or a lost one
 3  the structure differs from FILE: the differences are printed
 4  FILE cannot be read, or is not a report
)";
}

std::string versionText() {
    return std::string(commandName) + " (Orvendel) " ORVENDEL_VERSION "\nLicense: MIT\n";
}

int run(const std::vector<std::string>& arguments, const Console& console) {
    Options options;
    try {
        options = parseOptions(arguments);
    } catch (const UsageError& e) {
        sys::writeAll(console.err, std::string(commandName) + ": " + printable(e.what()) +
                                       " (see " + commandName + " --help)\n");
        return nothingExported;
    }
    if (options.help || options.version)
        return writeOutput(console.out, options.help ? usageText() : versionText())
                   ? exported
                   : nothingExported;

    Command command(options, console);
    try {
        return command.run();
    } catch (const std::bad_alloc&) {
        command.error("out of memory: the system would not give the command the memory it "
                      "needed, and nothing was written");
        return nothingExported;
    } catch (const std::exception& e) {
        // No thread, a failing system call: one line like any other failure.
        command.error(e.what());
        return nothingExported;
    } catch (...) {
        command.error("an unexpected failure ended the export");
        return nothingExported;
    }
}

} // namespace orv::cli
