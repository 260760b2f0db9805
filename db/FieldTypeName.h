#pragma once

#include <cstdint>
#include <string>

namespace orv::db {

// The report's word for an ADO DataTypeEnum code; unknown codes give their decimal digits.
std::string FieldTypeName(std::int32_t type);

} // namespace orv::db
