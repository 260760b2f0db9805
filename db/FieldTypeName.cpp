#include "db/FieldTypeName.h"

namespace orv::db {

std::string FieldTypeName(std::int32_t type) {
    switch (type) {
    case 2:
    case 16:
    case 17:
    case 18:
        return "TinyInt";
    case 3:
    case 19:
    case 20:
    case 21:
        return "Integer";
    case 4:
        return "Float";
    case 5:
        return "Double";
    case 6:
    case 14:
    case 131:
        return "Decimal";
    case 7:
    case 133:
    case 134:
    case 135:
        return "DateTime";
    case 8:
        return "BSTR";
    case 11:
        return "Boolean";
    case 12:
        return "Variant";
    case 72:
        return "GUID";
    case 128:
    case 204:
    case 205:
        return "BLOB";
    case 129:
        return "Char";
    case 130:
    case 201:
    case 202:
    case 203:
        return "Text";
    case 132:
        return "UserDefined";
    case 200:
        return "Varchar";
    default:
        return std::to_string(type);
    }
}

} // namespace orv::db
