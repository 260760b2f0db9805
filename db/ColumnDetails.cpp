#include "db/ColumnDetails.h"

#include <algorithm>
#include <charconv>
#include <set>

namespace orv::db {

DefaultStyle defaultStyle(std::string_view version) {
    if (version.find("MariaDB") == std::string_view::npos)
        return DefaultStyle::unquoted;
    version.remove_prefix(std::min(version.find_first_of("0123456789"), version.size()));
    // A server in replication-compatible mode reports "5.5.5-10.x.y-MariaDB".
    if (version.starts_with("5.5.5-"))
        version.remove_prefix(6);
    int parts[3] = {0, 0, 0};
    const char* at = version.data();
    const char* end = version.data() + version.size();
    for (int& part : parts) {
        auto [next, error] = std::from_chars(at, end, part);
        if (error != std::errc{})
            break;
        at = next < end && *next == '.' ? next + 1 : end;
    }
    const bool quoted = parts[0] > 10 || (parts[0] == 10 && parts[1] > 2) ||
                        (parts[0] == 10 && parts[1] == 2 && parts[2] >= 7);
    return quoted ? DefaultStyle::quoted : DefaultStyle::unquoted;
}

namespace {

// A text as a string literal the way the server writes one in SHOW CREATE TABLE.
std::string quotedLiteral(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        switch (c) {
        case '\'':
            out += "''";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\0':
            out += "\\0";
            break;
        case '\x1A':
            out += "\\Z";
            break;
        default:
            out += c;
        }
    }
    return out + "'";
}

bool isNumericType(std::string_view dataType) {
    static const std::set<std::string_view> numeric = {
        "tinyint", "smallint", "mediumint", "int",  "integer", "bigint", "decimal",
        "numeric", "float",    "double",    "real", "bit",     "year"};
    return numeric.contains(dataType);
}

} // namespace

std::optional<std::string> columnDefault(const std::optional<std::string>& catalogueDefault,
                                         DefaultStyle style, std::string_view dataType,
                                         bool nullable, std::string_view extra) {
    // The catalogue gives generated columns a NULL default they cannot have.
    if (extra.find("GENERATED") != std::string_view::npos &&
        extra.find("DEFAULT_GENERATED") == std::string_view::npos)
        return std::nullopt;
    if (style == DefaultStyle::quoted)
        return catalogueDefault;
    // MySQL: a nullable column without a default of its own defaults to NULL.
    if (!catalogueDefault)
        return nullable ? std::optional<std::string>("NULL") : std::nullopt;
    const std::string& text = *catalogueDefault;
    // An expression (MySQL 8.0.13 and later mark them), a number, or CURRENT_TIMESTAMP.
    if (extra.find("DEFAULT_GENERATED") != std::string_view::npos || isNumericType(dataType) ||
        text == "CURRENT_TIMESTAMP" || text.starts_with("CURRENT_TIMESTAMP("))
        return text;
    return quotedLiteral(text);
}

std::string kindName(std::string_view tableType) {
    if (tableType == "BASE TABLE")
        return "table";
    if (tableType == "VIEW")
        return "view";
    if (tableType == "SEQUENCE")
        return "sequence";
    if (tableType == "SYSTEM VERSIONED")
        return "system-versioned table";
    std::string kind(tableType);
    for (char& c : kind)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return kind;
}

} // namespace orv::db
