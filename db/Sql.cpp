#include "db/Sql.h"

namespace orv::db {

std::string quotedName(std::string_view name) {
    std::string quoted = "`";
    for (char c : name) {
        quoted += c;
        if (c == '`')
            quoted += '`';
    }
    return quoted + "`";
}

std::string textLiteral(std::string_view text) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string hex = "CONVERT(X'";
    for (unsigned char c : text) {
        hex += digits[c >> 4];
        hex += digits[c & 0xF];
    }
    return hex + "' USING utf8mb4)";
}

} // namespace orv::db
