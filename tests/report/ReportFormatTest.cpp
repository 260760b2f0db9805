#include "report/ReportFormat.h"
#include "db/ColumnTypes.h"
#include "support/Files.h"

#include <gtest/gtest.h>

using namespace orv;
using db::Field;

namespace {
Field field(std::string name, std::int32_t type, std::int32_t size = 0, int precision = 0,
            int scale = 0) {
    return Field{std::move(name), type, size, precision, scale};
}
} // namespace

TEST(FieldTypeName, EveryCodeGroup) {
    const std::vector<std::pair<std::vector<int>, std::string>> groups = {
        {{2, 16, 17, 18}, "TinyInt"},
        {{3, 19, 20, 21}, "Integer"},
        {{4}, "Float"},
        {{5}, "Double"},
        {{6, 14, 131}, "Decimal"},
        {{7, 133, 134, 135}, "DateTime"},
        {{8}, "BSTR"},
        {{11}, "Boolean"},
        {{12}, "Variant"},
        {{72}, "GUID"},
        {{128, 204, 205}, "BLOB"},
        {{129}, "Char"},
        {{130, 201, 202, 203}, "Text"},
        {{132}, "UserDefined"},
        {{200}, "Varchar"},
    };
    for (const auto& [codes, text] : groups)
        for (int code : codes)
            EXPECT_EQ(db::FieldTypeName(code), text) << code;
    for (int code : {0, 1, 9, 10, 13, 64, 136, 138, 139, 206, 2147483647})
        EXPECT_EQ(db::FieldTypeName(code), std::to_string(code));
    EXPECT_EQ(db::FieldTypeName(-1), "-1");
    EXPECT_EQ(db::FieldTypeName(-2147483647 - 1), "-2147483648");
}

TEST(ReportFormat, TypeTextsTakeTheirSizeOrPrecision) {
    EXPECT_EQ(report::typeText(field("a", 200, 45)), "Varchar(45)");
    EXPECT_EQ(report::typeText(field("a", 129, 10)), "Char(10)");
    EXPECT_EQ(report::typeText(field("a", 2, 2)), "TinyInt(2)");
    EXPECT_EQ(report::typeText(field("a", 6, 8, 19, 4)), "Decimal(19,4)");
    EXPECT_EQ(report::typeText(field("a", 131, 19, 10, 2)), "Decimal(10,2)");
    // Wide characters are "Text" and take no size; unknown codes print their digits.
    EXPECT_EQ(report::typeText(field("a", 202, 45)), "Text");
    EXPECT_EQ(report::typeText(field("a", 64, 8)), "64");
}

TEST(ReportFormat, RowsPadNamesTo25AndTypesTo12Characters) {
    const std::string name24(24, 'n'), name25(25, 'n'), name30(30, 'n');
    EXPECT_EQ(report::fieldRow(field(name24, 3)), " " + name24 + "  Integer     ");
    EXPECT_EQ(report::fieldRow(field(name25, 3)), " " + name25 + " Integer     ");
    EXPECT_EQ(report::fieldRow(field(name30, 3)), " " + name30 + " Integer     ");
    // 11 characters get one blank, 12 or more none.
    EXPECT_EQ(report::fieldRow(field("v", 200, 45)), " v" + std::string(24, ' ') + " Varchar(45) ");
    EXPECT_EQ(report::fieldRow(field("v", 200, 100)),
              " v" + std::string(24, ' ') + " Varchar(100)");
    EXPECT_EQ(report::fieldRow(field("d", 131, 19, 10, 2)),
              " d" + std::string(24, ' ') + " Decimal(10,2)");
    // Padding counts characters, not bytes.
    EXPECT_EQ(report::fieldRow(field("größe", 3)),
              " größe" + std::string(20, ' ') + " Integer     ");
}

TEST(ReportFormat, TheExampleReport) {
    const std::vector<report::TableStructure> tables = {
        {"customers",
         {field("id", 3, 4, 10), field("name", 200, 45), field("balance", 131, 19, 10, 2)}},
        {"orders", {field("order_id", 3, 4, 10), field("customer_reference_number", 3, 4, 10)}},
    };
    EXPECT_EQ(report::formatReport("localhost", tables),
              test::readFile(test::golden("example.txt")));
}

TEST(ReportFormat, ATableWithoutColumnsAndAnEmptyServer) {
    EXPECT_EQ(report::formatReport("", {{"empty", {}}}),
              " Printing From \r\n\r\nPrinting Table Structures:\r\n1) empty\r\n\r\n\r\n"
              "Table Name : empty    Total Fields : 0\r\n\r\n"
              "Field Name                DataType\r\n__________                ________\r\n"
              "\r\n\r\n\r\n");
}

TEST(ReportFormat, ControlCharactersInNamesAreWrittenEscaped) {
    EXPECT_EQ(report::escapedName("a\r\nb\x7F"), "a\\x0D\\x0Ab\\x7F");
    // NEL and the line separator break lines too; other text, backslashes included, stays.
    EXPECT_EQ(report::escapedName("x\xC2\x85y\xE2\x80\xA8z größe\\n"),
              "x\\xC2\\x85y\\xE2\\x80\\xA8z größe\\n");
}
