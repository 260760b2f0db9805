#include "db/TableColumns.h"
#include "db/Catalogue.h"
#include "db/Connection.h"
#include "support/Files.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <iostream>
#include <random>
#include <string>

using namespace orv;

namespace {

// A column definition drawn at random from every type and size the server offers.
std::string randomColumn(std::mt19937& random) {
    auto pick = [&random](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    auto n = [&](int low, int high) { return std::to_string(pick(low, high)); };
    auto charset = [&]() -> std::string {
        static const char* const sets[] = {"",
                                           " CHARACTER SET latin1",
                                           " CHARACTER SET utf8mb4",
                                           " CHARACTER SET utf8mb3",
                                           " CHARACTER SET ascii",
                                           " CHARACTER SET utf8mb4 COLLATE utf8mb4_bin"};
        return sets[pick(0, 5)];
    };
    auto sign = [&]() -> std::string {
        static const char* const signs[] = {"", " unsigned", " unsigned zerofill", " signed"};
        return signs[pick(0, 3)];
    };
    const int precision = pick(1, 65);
    const int fraction = pick(0, 6);
    switch (pick(0, 30)) {
    case 0:
        return "tinyint(" + n(1, 4) + ")" + sign();
    case 1:
        return "smallint" + sign();
    case 2:
        return "mediumint" + sign();
    case 3:
        return "int(" + n(1, 11) + ")" + sign();
    case 4:
        return "bigint" + sign();
    case 5:
        return "float" + sign();
    case 6:
        return "float(" + std::to_string(precision % 24 + 2) + ",1)";
    case 7:
        return "double" + sign();
    case 8:
        return "double(" + std::to_string(precision % 50 + 5) + ",3)";
    case 9:
        return "decimal(" + std::to_string(precision) + "," + n(0, std::min(precision, 30)) + ")" +
               sign();
    case 10:
        return "bit(" + n(1, 64) + ")";
    case 11:
        return "date";
    case 12:
        return "time(" + std::to_string(fraction) + ")";
    case 13:
        return "datetime(" + std::to_string(fraction) + ")";
    case 14:
        return "timestamp(" + std::to_string(fraction) + ") NULL";
    case 15:
        return "year";
    case 16:
        return "char(" + n(0, 255) + ")" + charset();
    case 17:
        return "varchar(" + n(1, 700) + ")" + charset();
    case 18:
        return "binary(" + n(0, 255) + ")";
    case 19:
        return "varbinary(" + n(1, 3000) + ")";
    case 20:
        return "enum('a','bcd','" + std::string(static_cast<size_t>(pick(1, 40)), 'e') + "')" +
               charset();
    case 21:
        return "set('x','yy','" + std::string(static_cast<size_t>(pick(1, 20)), 'z') + "')" +
               charset();
    case 22: {
        static const char* const texts[] = {"tinytext", "text", "mediumtext", "longtext", "json"};
        const int which = pick(0, 4);
        return texts[which] + (which == 4 ? std::string() : charset());
    }
    case 23: {
        static const char* const blobs[] = {"tinyblob", "blob", "mediumblob", "longblob"};
        return blobs[pick(0, 3)];
    }
    case 24: {
        static const char* const shapes[] = {
            "geometry",   "point",           "linestring",   "polygon",
            "multipoint", "multilinestring", "multipolygon", "geometrycollection"};
        return shapes[pick(0, 7)];
    }
    case 25:
        return "uuid";
    case 26:
        return "inet6";
    case 27:
        return "inet4";
    case 28:
        return "bool";
    case 29:
        return "text(" + n(1, 70000) + ")" + charset();
    default:
        return "char(" + n(1, 30) + ") BINARY";
    }
}

struct BothWays {
    size_t fromCatalogue = 0; // tables answered without waiting
    db::ColumnReader::Statistics figures;
    long unrunPrepares = 0; // statements the server prepared and never ran for the reader
};

// The session's statements prepared less those run: the driver's descriptions.
long unrunPrepares(db::Connection& connection) {
    long count = 0;
    for (const db::Connection::Row& row :
         connection.rows("SHOW SESSION STATUS WHERE Variable_name IN ('Com_stmt_prepare', "
                         "'Com_stmt_execute')",
                         2))
        count += (row[0] == "Com_stmt_prepare" ? 1 : -1) * std::stol(row[1].value_or("0"));
    return count;
}

// Reads every table both ways, the reader's and one prepare per table, and compares, both
// sessions set up alike.
BothWays expectBothWaysAlike(const db::Login& login, const std::vector<std::string>& tables,
                             const std::map<std::string, std::vector<std::string>>& named = {},
                             const std::string& sessionSetup = {}) {
    db::Connection batched, alone;
    batched.open(login);
    alone.open(login);
    if (!sessionSetup.empty()) {
        batched.execute(sessionSetup);
        alone.execute(sessionSetup);
    }
    const long preparedBefore = unrunPrepares(batched);
    db::ColumnReader reader(batched, tables);
    size_t fromCatalogue = 0;
    for (size_t i = 0; i < tables.size(); ++i) {
        fromCatalogue += reader.isReady(i);
        const db::TableColumns fromReader = reader.take(i);
        auto columns = named.find(tables[i]);
        const db::TableColumns prepared = db::preparedColumns(
            alone, tables[i],
            columns == named.end() ? std::vector<std::string>{} : columns->second);
        EXPECT_EQ(fromReader.error.has_value(), prepared.error.has_value()) << tables[i];
        if (prepared.error || fromReader.error) {
            EXPECT_EQ(fromReader.error->nativeCode(), prepared.error->nativeCode()) << tables[i];
            continue;
        }
        EXPECT_EQ(fromReader.fields.size(), prepared.fields.size()) << tables[i];
        for (size_t c = 0; c < std::min(prepared.fields.size(), fromReader.fields.size()); ++c) {
            const db::Field& a = fromReader.fields[c];
            const db::Field& b = prepared.fields[c];
            EXPECT_EQ(a, b) << tables[i] << "." << b.name << ": catalogue " << a.type << "/"
                            << a.definedSize << "/" << a.precision << "/" << a.numericScale
                            << ", prepare " << b.type << "/" << b.definedSize << "/" << b.precision
                            << "/" << b.numericScale;
        }
    }
    const long prepared = unrunPrepares(batched) - preparedBefore;
    const db::ColumnReader::Statistics figures = reader.statistics();
    std::cout << "[ figures  ] " << tables.size() << " tables: " << figures.groups << " groups, "
              << figures.differingGroups << " described otherwise by the driver, "
              << figures.tablesFromDriver << " tables from the driver, " << prepared
              << " prepares\n";
    return {fromCatalogue, figures, prepared};
}

} // namespace

TEST(TableColumns, TheCatalogueDescribesEveryTableAsThePrepareDoes) {
    test::recreateDatabase("cols_diff");
    std::string sql =
        "USE cols_diff;" +
        test::readFile(std::string(ORVENDEL_TEST_SOURCE_DIR) + "/report/all-types.sql") +
        "CREATE TABLE empty_one (id int);"
        "CREATE TABLE `name_of_exactly_24_chars` (a int);"
        "CREATE TABLE `name_of_exactly_25_chars_` (a int);"
        "CREATE TABLE `a_table_name_of_30_chars_xyz__` (a int);"
        "CREATE TABLE `Größe Ü` (`maß` varchar(7), `we``ird` char(2));"
        "CREATE TABLE `Case` (a int); CREATE TABLE `case` (b varchar(3), c int);"
        "CREATE TABLE `semi;colon` (`x;y` int); CREATE TABLE `tick``;` (`';` char(2));"
        "CREATE TABLE hidden (a int, b int INVISIBLE, c varchar(9), d date INVISIBLE);"
        "CREATE TABLE versioned (a int) WITH SYSTEM VERSIONING;"
        "CREATE VIEW computed AS SELECT c_int + 1 AS plus, concat(c_char, 'x') AS joined,"
        " c_decimal * 2 AS twice, c_varchar, now() AS moment FROM types_utf8mb4;"
        // Members of the binary character set, and compressed lengths in every kind of
        // character set.
        "CREATE TABLE binary_members (e enum('ab','c') CHARACTER SET binary,"
        " s set('x','yy') CHARACTER SET binary, n enum('a','bcd') CHARACTER SET binary NOT NULL);"
        "CREATE TABLE compressed (l varchar(10) CHARACTER SET latin1 COMPRESSED,"
        " a varchar(300) CHARACTER SET ascii COMPRESSED, c varchar(45) CHARACTER SET cp1251"
        " COMPRESSED, u varchar(10) CHARACTER SET utf8mb4 COMPRESSED, m varchar(10) CHARACTER SET"
        " utf8mb3 COMPRESSED, w varchar(10) CHARACTER SET ucs2 COMPRESSED, g varchar(10)"
        " CHARACTER SET big5 COMPRESSED, b varbinary(10) COMPRESSED, t text COMPRESSED,"
        " o blob COMPRESSED, plain varchar(10) CHARACTER SET latin1);"
        "CREATE TABLE wide_sets (a char(10) CHARACTER SET utf32, b varchar(10) CHARACTER SET"
        " utf16, c text CHARACTER SET utf16, d mediumtext CHARACTER SET ucs2, e enum('abc')"
        " CHARACTER SET ucs2, f tinytext CHARACTER SET utf32);"
        "CREATE SEQUENCE numbers;";
    std::vector<std::string> tables = {"types_latin1",
                                       "types_utf8mb4",
                                       "empty_one",
                                       "name_of_exactly_24_chars",
                                       "name_of_exactly_25_chars_",
                                       "a_table_name_of_30_chars_xyz__",
                                       "Größe Ü",
                                       "Case",
                                       "case",
                                       "semi;colon",
                                       "tick`;",
                                       "hidden",
                                       "versioned",
                                       "computed",
                                       "missing",
                                       "binary_members",
                                       "compressed",
                                       "wide_sets",
                                       "numbers"};
    // Wide tables, and a few hundred drawn at random with a fixed seed.
    std::mt19937 random(20261209);
    for (int w = 0; w < 2; ++w) {
        std::string wide = "CREATE TABLE wide" + std::to_string(w) + " (";
        for (int c = 0; c < 1500; ++c)
            wide += (c ? ", c" : "c") + std::to_string(c) + " " +
                    (c % 3   ? "tinyint"
                     : c % 2 ? "varchar(2)"
                             : "decimal(5,1)");
        sql += wide + ") ENGINE=MyISAM;";
        tables.push_back("wide" + std::to_string(w));
    }
    for (int t = 0; t < 300; ++t) {
        const std::string name = "r" + std::to_string(t);
        std::string create = "CREATE TABLE " + name + " (";
        const int columns = std::uniform_int_distribution<int>(1, 12)(random);
        for (int c = 0; c < columns; ++c)
            create += (c ? ", c" : "c") + std::to_string(c) + " " + randomColumn(random);
        sql += create + ") ENGINE=MyISAM;";
        tables.push_back(name);
    }
    test::sql(sql);
    const BothWays read = expectBothWaysAlike(test::serverLogin("cols_diff"), tables,
                                              {{"hidden", {"a", "b", "c", "d"}}});
    // All but the first of the batch, the view, the missing table and those with an inet4.
    EXPECT_GT(read.fromCatalogue, tables.size() * 9 / 10);
    // The mapping agrees with the driver on every column: only the view and the missing table
    // are left to the driver.
    EXPECT_EQ(read.figures.differingGroups, 0u);
    EXPECT_EQ(read.figures.tablesFromDriver, 2u);
}

TEST(TableColumns, ColumnPrivilegesAreReadAsThePrepareReadsThem) {
    test::recreateDatabase("cols_grant");
    test::sql("USE cols_grant; CREATE TABLE part (a int, secret varchar(5), b char(3));"
              "CREATE TABLE whole (x int);"
              "CREATE TABLE members (e enum('ab','c') CHARACTER SET binary, f int);"
              "DROP USER IF EXISTS 'partial'@'localhost', 'partial'@'127.0.0.1';"
              "CREATE USER 'partial'@'localhost' IDENTIFIED BY 'pw';"
              "CREATE USER 'partial'@'127.0.0.1' IDENTIFIED BY 'pw';"
              "GRANT SELECT (a, b) ON cols_grant.part TO 'partial'@'localhost';"
              "GRANT SELECT (a, b) ON cols_grant.part TO 'partial'@'127.0.0.1';"
              "GRANT SELECT ON cols_grant.whole TO 'partial'@'localhost';"
              "GRANT SELECT ON cols_grant.whole TO 'partial'@'127.0.0.1';");
    db::Login login = test::serverLogin("cols_grant");
    login.user = "partial";
    login.password = "pw";
    // The columns the user may select, as a prepare that names them describes them.
    expectBothWaysAlike(login, {"part", "whole"}, {{"part", {"a", "b"}}});

    // Another user's column grant changes nothing of what an administrator reads.
    const db::Login administrator = test::serverLogin("cols_grant");
    expectBothWaysAlike(administrator, {"part", "members"});
    test::sql("GRANT SELECT (e) ON cols_grant.members TO 'partial'@'localhost';"
              "GRANT INSERT (secret) ON cols_grant.part TO 'partial'@'127.0.0.1';");
    expectBothWaysAlike(administrator, {"part", "members"});
}

// A session whose results come in the binary character set: the driver then describes every
// character column as binary, which the catalogue does not know. The reader must follow the
// driver.
TEST(TableColumns, WhereTheDriverDescribesATypeOtherwiseTheDriverIsFollowed) {
    test::recreateDatabase("cols_check");
    test::sql("USE cols_check;" +
              test::readFile(std::string(ORVENDEL_TEST_SOURCE_DIR) + "/report/all-types.sql") +
              "CREATE TABLE only_numbers (a int, b decimal(10,2));");
    const std::vector<std::string> tables = {"types_latin1", "types_utf8mb4", "only_numbers"};
    const BothWays read = expectBothWaysAlike(test::serverLogin("cols_check"), tables, {},
                                              "SET character_set_results = binary");
    EXPECT_GT(read.figures.differingGroups, 0u);
    EXPECT_EQ(read.figures.tablesFromDriver, 2u);
}

TEST(TableColumns, AGroupIsConfirmedOnlyWhenEveryDescriptionHasTheMappingsType) {
    const db::Field varchar{"", 200, 45, 45, 0}, blob{"", 128, 2, 2, 0};
    using V = db::GroupVerdict;
    // 0: described alike (another name); 1: one description differs; 2: not described;
    // 3: a type the mapping does not know.
    const std::vector<V> verdicts = db::groupVerdicts(
        {varchar, varchar, blob, std::nullopt},
        {{0, {"name", 200, 45, 45, 0}}, {1, varchar}, {1, {"x", 200, 46, 46, 0}}, {3, blob}});
    EXPECT_EQ(verdicts, (std::vector<V>{V::confirmed, V::differs, V::unchecked, V::differs}));
}

// Views, sequences and system-versioned tables, which the driver describes or whose types it
// confirms, share one prepare with the check.
TEST(TableColumns, ViewsAndOtherKindsShareOnePrepare) {
    test::recreateDatabase("cols_kinds");
    test::sql("USE cols_kinds; CREATE TABLE t (a int, b varchar(5), c decimal(6,2));"
              "CREATE VIEW v1 AS SELECT a + 1 AS p FROM t; CREATE VIEW v2 AS SELECT concat(b, 'x')"
              " AS q FROM t; CREATE VIEW v3 AS SELECT sum(c) AS s FROM t; CREATE VIEW v4 AS"
              " SELECT * FROM t; CREATE SEQUENCE numbers;"
              "CREATE TABLE versioned (a int, d date) WITH SYSTEM VERSIONING;");
    const BothWays read = expectBothWaysAlike(
        test::serverLogin("cols_kinds"), {"t", "v1", "v2", "v3", "v4", "numbers", "versioned"});
    EXPECT_EQ(read.unrunPrepares, 1);
}

// The driver's confirmations last as long as the session: a second export on the same
// connection prepares nothing, a new session checks again.
TEST(TableColumns, ASessionConfirmsEachGroupOnce) {
    test::recreateDatabase("cols_session");
    test::sql("USE cols_session;" +
              test::readFile(std::string(ORVENDEL_TEST_SOURCE_DIR) + "/report/all-types.sql"));
    const std::vector<std::string> tables = {"types_latin1", "types_utf8mb4"};
    db::Connection connection;
    auto read = [&connection, &tables] {
        db::ColumnReader reader(connection, tables);
        std::vector<db::Field> fields = reader.take(0).fields;
        const db::TableColumns second = reader.take(1);
        fields.insert(fields.end(), second.fields.begin(), second.fields.end());
        return std::pair(fields, reader.statistics().prepares);
    };
    connection.open(test::serverLogin("cols_session"));
    const auto [first, firstPrepares] = read();
    const auto [again, againPrepares] = read();
    connection.close();
    connection.open(test::serverLogin("cols_session"));
    const auto [anew, anewPrepares] = read();
    EXPECT_EQ(firstPrepares, 1u);
    EXPECT_EQ(againPrepares, 0u);
    EXPECT_EQ(anewPrepares, 1u);
    EXPECT_EQ(again, first);
    EXPECT_EQ(anew, first);
}
