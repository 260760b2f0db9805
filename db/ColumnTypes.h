#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orv::db {

// ADO's DataTypeEnum: the type codes a result-set column is described with.
enum class AdoType : std::int32_t {
    Empty = 0,
    SmallInt = 2,
    Integer = 3,
    Single = 4,
    Double = 5,
    Currency = 6,
    Date = 7,
    BSTR = 8,
    Boolean = 11,
    Variant = 12,
    Decimal = 14,
    TinyInt = 16,
    UnsignedTinyInt = 17,
    UnsignedSmallInt = 18,
    UnsignedInt = 19,
    BigInt = 20,
    UnsignedBigInt = 21,
    GUID = 72,
    Binary = 128,
    Char = 129,
    WChar = 130,
    Numeric = 131,
    UserDefined = 132,
    DBDate = 133,
    DBTime = 134,
    DBTimeStamp = 135,
    VarChar = 200,
    LongVarChar = 201,
    VarWChar = 202,
    LongVarWChar = 203,
    VarBinary = 204,
    LongVarBinary = 205,
};

// A result-set column described the way ADO describes it (DataTypeEnum code, DefinedSize,
// Precision, NumericScale), derived from the ODBC metadata.
struct Field {
    std::string name;
    std::int32_t type = 0;
    std::int32_t definedSize = 0;
    int precision = 0;
    int numericScale = 0;

    bool operator==(const Field&) const = default;
};

// The ODBC column description a Field is derived from.
struct OdbcColumn {
    int sqlType = 0;
    unsigned long long columnSize = 0;
    int decimalDigits = 0;
    bool isUnsigned = false;
};

// ADO's DataTypeEnum code, DefinedSize, Precision and NumericScale for an ODBC column, as the
// OLE DB provider for ODBC derives them.
Field adoField(std::string name, const OdbcColumn& column);

// A column as the server's catalogue (information_schema.COLUMNS) describes its type: every
// value of the catalogue's row that could change how the driver describes the column.
struct CatalogueColumn {
    std::string dataType;   // DATA_TYPE, e.g. "varchar"
    std::string columnType; // COLUMN_TYPE, e.g. "int(10) unsigned"
    std::optional<unsigned long long> characterMaximumLength;
    std::optional<unsigned long long> characterOctetLength;
    std::optional<unsigned long long> numericPrecision;
    std::optional<unsigned long long> numericScale;
    std::optional<unsigned long long> datetimePrecision;
    std::string characterSetName{}; // empty for NULL
    std::string collationName{};    // empty for NULL
    std::string isNullable{};       // "YES" or "NO"
    std::string extra{};            // EXTRA: generated, invisible, auto_increment, ...

    bool operator==(const CatalogueColumn&) const = default;
};

// The description the driver gives a table column of this catalogue entry when the column is
// prepared on a utf8mb4 connection; nullopt for a type whose description is not known exactly.
std::optional<OdbcColumn> driverColumn(const CatalogueColumn& column);

// Whether two fields describe the same type, whatever their names.
bool sameType(const Field& a, const Field& b);

// The report's word for an ADO DataTypeEnum code; unknown codes give their decimal digits.
std::string FieldTypeName(std::int32_t type);

// What the report prints after a type's word.
enum class TypeSuffix {
    none,
    definedSize,       // "(" DefinedSize ")"
    precisionAndScale, // "(" Precision "," NumericScale ")"
};
TypeSuffix typeSuffix(std::int32_t type);

} // namespace orv::db
