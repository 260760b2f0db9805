#include "report/Documents.h"
#include "db/ColumnDetails.h"
#include "db/Error.h"

#include <gtest/gtest.h>

using namespace orv;

// MySQL writes no quotes and no NULL text: the default's SQL text is rebuilt from the type, the
// nullability and EXTRA. (Only MariaDB runs here; its texts are checked on the real server.)
TEST(ColumnDetails, DefaultsOfEitherServerBecomeTheSameSqlText) {
    EXPECT_EQ(db::defaultStyle("MariaDB 10.11.000019"), db::DefaultStyle::quoted);
    EXPECT_EQ(db::defaultStyle("MariaDB 10.2.000007"), db::DefaultStyle::quoted);
    EXPECT_EQ(db::defaultStyle("MariaDB 10.2.000006"), db::DefaultStyle::unquoted);
    EXPECT_EQ(db::defaultStyle("MariaDB 5.5.5-10.1.48"), db::DefaultStyle::unquoted);
    EXPECT_EQ(db::defaultStyle("MySQL 8.0.000036"), db::DefaultStyle::unquoted);

    const auto mysql = [](std::optional<std::string> text, std::string_view type, bool nullable,
                          std::string_view extra = "") {
        return db::columnDefault(text, db::DefaultStyle::unquoted, type, nullable, extra);
    };
    EXPECT_EQ(mysql(std::nullopt, "int", true), "NULL");
    EXPECT_EQ(mysql(std::nullopt, "int", false), std::nullopt);
    EXPECT_EQ(mysql("NULL", "varchar", true), "'NULL'");
    EXPECT_EQ(mysql("it's a\\b\n", "varchar", true), "'it''s a\\\\b\\n'");
    EXPECT_EQ(mysql("1.50", "decimal", false), "1.50");
    EXPECT_EQ(mysql("CURRENT_TIMESTAMP", "timestamp", false), "CURRENT_TIMESTAMP");
    EXPECT_EQ(mysql("uuid()", "char", false, "DEFAULT_GENERATED"), "uuid()");
    EXPECT_EQ(mysql(std::nullopt, "int", true, "VIRTUAL GENERATED"), std::nullopt);
    // MariaDB's text stands as it is, but a generated column has no default.
    EXPECT_EQ(db::columnDefault("NULL", db::DefaultStyle::quoted, "int", true, "STORED GENERATED"),
              std::nullopt);
}

TEST(DocumentFormats, ReportsCutShortOrOfAnotherKindAreRefused) {
    const std::string text =
        " Printing From h\r\n\r\nPrinting Table Structures:\r\n1) t\r\n\r\n\r\n"
        "Table Name : t    Total Fields : 1\r\n\r\n"
        "Field Name                DataType\r\n"
        "__________                ________\r\n"
        " a                         Integer     \r\n\r\n\r\n\r\n";
    EXPECT_EQ(report::parseReport(text).tables.at(0).columns.at(0).type, "Integer");
    // Checked out with LF line ends and trailing blanks trimmed by an editor, it reads the same.
    std::string plain;
    for (char c : text)
        if (c != '\r')
            plain += c;
    plain.replace(plain.find("Integer     "), 12, "Integer");
    EXPECT_EQ(report::parseReport(plain).tables, report::parseReport(text).tables);
    for (const std::string& bad :
         {text.substr(0, text.size() - 2), text.substr(0, text.find(" a ")),
          std::string("{\"format\": \"orvendel-structure\", \"version\": 2, \"tables\": []}"),
          std::string("{\"format\": \"orvendel-structure\", \"version\": 1, \"tables\": [{}]}"),
          std::string("# Structure of d on h\n\n## Contents\n\n1. [t](#table-1)\n\n")})
        EXPECT_THROW(report::parseReport(bad), Error) << bad;
}

TEST(DocumentFormats, ColumnsMovedAreTheFewestThatExplainTheNewOrder) {
    auto table = [](std::vector<std::string> names) {
        report::TableRecord record{"t", {}, {}, {}};
        for (std::string& name : names)
            record.columns.push_back({std::move(name), "Integer", {}, {}});
        return record;
    };
    EXPECT_EQ(report::differences({table({"a", "b", "c", "d"})}, {table({"b", "c", "d", "a"})}),
              std::vector<std::string>{"~ t.a: position 1 -> 4"});
    EXPECT_EQ(report::differences({table({"a", "b", "c"})}, {table({"a", "x", "c", "n"})}),
              (std::vector<std::string>{"~ t.b: renamed to x", "+ column t.n"}));
}
