#pragma once

#include <string>
#include <string_view>

namespace orv::db {

// A name as MySQL quotes it: in back-quotes, any back-quote inside doubled, so no name can
// change a query.
std::string quotedName(std::string_view name);

// A text as a string literal that no SQL mode reads differently: hexadecimal digits, read as
// utf8mb4.
std::string textLiteral(std::string_view text);

} // namespace orv::db
