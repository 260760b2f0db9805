#include "db/ColumnTypes.h"

#include <sql.h>
#include <sqlext.h>

#include <gtest/gtest.h>

using namespace orv::db;

// The OLE DB provider's table of ODBC types, as measured with this driver.
TEST(ColumnTypes, OdbcColumnsBecomeTheFieldsAdoReports) {
    struct Case {
        OdbcColumn column;
        AdoType type;
        std::int32_t definedSize;
    };
    const Case cases[] = {
        {{SQL_CHAR, 10}, AdoType::Char, 10},
        {{SQL_VARCHAR, 45}, AdoType::VarChar, 45},
        {{SQL_LONGVARCHAR, 1073741823}, AdoType::LongVarChar, 1073741823},
        {{SQL_WCHAR, 3}, AdoType::WChar, 3},
        {{SQL_WVARCHAR, 4}, AdoType::VarWChar, 4},
        {{SQL_WLONGVARCHAR, 5}, AdoType::LongVarWChar, 5},
        {{SQL_DECIMAL, 10, 2}, AdoType::Numeric, 19},
        {{SQL_NUMERIC, 5}, AdoType::Numeric, 19},
        {{SQL_TINYINT, 3}, AdoType::TinyInt, 1},
        {{SQL_TINYINT, 3, 0, true}, AdoType::UnsignedTinyInt, 1},
        {{SQL_SMALLINT, 5}, AdoType::SmallInt, 2},
        {{SQL_SMALLINT, 5, 0, true}, AdoType::UnsignedSmallInt, 2},
        {{SQL_INTEGER, 10}, AdoType::Integer, 4},
        {{SQL_INTEGER, 10, 0, true}, AdoType::UnsignedInt, 4},
        {{SQL_BIGINT, 20}, AdoType::BigInt, 8},
        {{SQL_BIGINT, 19, 0, true}, AdoType::UnsignedBigInt, 8},
        {{SQL_REAL, 7}, AdoType::Single, 4},
        {{SQL_FLOAT, 15}, AdoType::Double, 8},
        {{SQL_DOUBLE, 15}, AdoType::Double, 8},
        {{SQL_BIT, 1, 0, true}, AdoType::Boolean, 2},
        {{SQL_BINARY, 16}, AdoType::Binary, 16},
        {{SQL_VARBINARY, 32}, AdoType::VarBinary, 32},
        // DefinedSize is 32 bits: a longblob's 4,294,967,295 is its largest value.
        {{SQL_LONGVARBINARY, 4294967295ULL}, AdoType::LongVarBinary, 2147483647},
        {{SQL_TYPE_DATE, 10}, AdoType::DBDate, 6},
        {{SQL_TYPE_TIME, 12, 3}, AdoType::DBTime, 6},
        {{SQL_TYPE_TIMESTAMP, 19}, AdoType::DBTimeStamp, 16},
        {{SQL_GUID, 36}, AdoType::GUID, 16},
        {{-150, 7}, AdoType::Variant, 7}, // a type ADO has no word for
    };
    for (const Case& c : cases) {
        const Field f = adoField("c", c.column);
        EXPECT_EQ(f.type, static_cast<std::int32_t>(c.type)) << c.column.sqlType;
        EXPECT_EQ(f.definedSize, c.definedSize) << c.column.sqlType;
    }
    // Precision is the column size up to 255, the scale its decimal digits.
    const Field decimal = adoField("d", {SQL_DECIMAL, 10, 2});
    EXPECT_EQ(std::pair(decimal.precision, decimal.numericScale), std::pair(10, 2));
    EXPECT_EQ(adoField("t", {SQL_LONGVARCHAR, 65535}).precision, 255);
}
