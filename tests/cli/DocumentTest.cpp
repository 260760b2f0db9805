#include "cli/Process.h"
#include "cli/ServerTools.h"
#include "report/Documents.h"
#include "support/Files.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

using namespace orv;
using Strings = std::vector<std::string>;

namespace {

const std::string source = ORVENDEL_TEST_SOURCE_DIR;

// Standard output of a shell command, and whether it exited with 0.
std::pair<bool, std::string> shell(const std::string& command) {
    FILE* pipe = ::popen(command.c_str(), "re");
    if (!pipe)
        return {false, ""};
    std::string out;
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, got);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) && WEXITSTATUS(status) == 0, out};
}

size_t count(const std::string& text, const std::string& part) {
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++found;
    return found;
}

// What a JSON schema validator and a CommonMark renderer with GitHub's tables say of the two
// documents of the same tables: the JSON is valid, and the Markdown renders every column as
// one table row of as many cells as its heading.
void expectValidDocuments(const std::string& json, const std::string& markdown) {
    const auto [valid, why] =
        shell("python3 -c 'import json, sys, jsonschema; jsonschema.Draft202012Validator("
              "json.load(open(sys.argv[1]))).validate(json.load(open(sys.argv[2])))' " +
              source + "/../docs/structure.schema.json " + json + " 2>&1");
    EXPECT_TRUE(valid) << why;

    const report::Snapshot tables = report::parseReport(test::readFile(json));
    size_t rows = 0, cells = 0;
    for (const report::TableRecord& table : tables.tables) {
        const size_t width = !table.columns.empty() && table.columns[0].details ? 9 : 2;
        rows += table.columns.empty() ? 0 : table.columns.size() + 1;
        cells += table.columns.empty() ? 0 : table.columns.size() * width;
    }
    const auto [rendered, html] = shell("cmark-gfm --extension table " + markdown);
    ASSERT_TRUE(rendered);
    EXPECT_EQ(count(html, "<tr>"), rows);
    EXPECT_EQ(count(html, "<td>"), cells);
    EXPECT_EQ(count(html, "<h2>"), tables.tables.size() + 1);
}

class Documents : public ::testing::Test {
protected:
    test::Outcome exportAs(const std::string& format, const std::string& file,
                           const Strings& tables = {"--all"}) {
        Strings arguments = {"--format", format, "-o", dir.file(file)};
        arguments.insert(arguments.end(), tables.begin(), tables.end());
        return test::runExport(test::withLogin(database, arguments));
    }
    test::Outcome check(const std::string& file, const Strings& tables = {"--all"}) {
        Strings arguments = {"--check", dir.file(file)};
        arguments.insert(arguments.end(), tables.begin(), tables.end());
        return test::runExport(test::withLogin(database, arguments));
    }

    std::string database;
    test::TempDir dir;
};

} // namespace

TEST_F(Documents, EveryColumnTypeAndDetailMatchesTheGoldenFilesAndReadsBack) {
    database = "cli_docs";
    test::recreateDatabase(database);
    test::sql("USE cli_docs;\n" + test::readFile(source + "/report/all-types.sql") +
              test::readFile(source + "/report/all-details.sql"));
    for (const std::string format : {"markdown", "json"}) {
        const std::string file = format == "json" ? "types.json" : "types.md";
        const test::Outcome run = exportAs(format, file);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(
            test::readFile(dir.file(file)),
            test::readFile(test::golden(format == "json" ? "all-types.json" : "all-types.md")))
            << format;
        const test::Outcome same = check(file);
        EXPECT_EQ(same.status, 0) << same.out << same.err;
        EXPECT_EQ(same.out, "The structure of 7 tables matches " + dir.file(file) + "\n");
    }
    // A Markdown formatter pads the cells of the tables; what they say is unchanged.
    std::string padded;
    for (const char c : test::readFile(dir.file("types.md")))
        padded +=
            c == '|' && !padded.empty() && padded.back() != '\\' ? "  |  " : std::string(1, c);
    test::writeFile(dir.file("padded.md"), padded);
    const test::Outcome reformatted = check("padded.md");
    EXPECT_EQ(reformatted.status, 0) << reformatted.out << reformatted.err;
    expectValidDocuments(dir.file("types.json"), dir.file("types.md"));
    // The golden text report reads back too: it is the desktop program's.
    const test::Outcome text = check("text.txt", {"types_latin1", "types_utf8mb4"});
    test::writeFile(dir.file("text.txt"), test::readFile(test::golden("all-types.txt")));
    const test::Outcome same = check("text.txt", {"types_latin1", "types_utf8mb4"});
    EXPECT_EQ(same.status, 0) << same.out << same.err;
    EXPECT_EQ(text.status, 4);
    EXPECT_EQ(text.err, "orvendel-export: cannot read " + dir.file("text.txt") +
                            ": No such file or directory\n");
}

TEST_F(Documents, EveryChangeIsReportedAgainstEachFormat) {
    database = "cli_drift";
    const std::string schema = "CREATE TABLE orders (id int NOT NULL PRIMARY KEY, status char(9), "
                               "note varchar(20) DEFAULT 'x' COMMENT 'c', old_name int);"
                               "CREATE TABLE customers (id int, email varchar(50));";
    auto reset = [&] {
        test::recreateDatabase(database);
        test::sql("USE cli_drift;" + schema);
    };
    reset();
    for (const std::string format : {"text", "markdown", "json"}) {
        ASSERT_EQ(exportAs(format, format).status, 0);
        const test::Outcome same = check(format);
        EXPECT_EQ(same.status, 0) << same.out << same.err;
        EXPECT_EQ(same.err, "");
    }
    struct Step {
        std::string sql;
        std::string lines; // in every format
        bool text = true;  // whether the text report records it
    };
    const std::vector<Step> steps = {
        {"CREATE TABLE audit_log (a int, b int, c int, d int, e int)",
         "+ table audit_log (5 columns)"},
        {"DROP TABLE customers", "- table customers (2 columns)"},
        {"ALTER TABLE orders ADD notes text", "+ column orders.notes"},
        {"ALTER TABLE orders DROP note", "- column orders.note"},
        {"ALTER TABLE orders RENAME COLUMN old_name TO new_name",
         "~ orders.old_name: renamed to new_name"},
        {"ALTER TABLE orders MODIFY status varchar(20)", "~ orders.status: Char(9) -> Varchar(20)"},
        {"ALTER TABLE orders MODIFY note varchar(20) DEFAULT 'x' COMMENT 'c' AFTER old_name",
         "~ orders.note: position 3 -> 4"},
        {"ALTER TABLE customers MODIFY email varchar(50) NOT NULL",
         "~ customers.email: nullable -> not null\n"
         "~ customers.email: default NULL -> no default",
         false},
        {"ALTER TABLE orders ALTER note SET DEFAULT 'NULL'",
         "~ orders.note: default 'x' -> default 'NULL'", false},
        {"ALTER TABLE orders ALTER note DROP DEFAULT", "~ orders.note: default 'x' -> default NULL",
         false},
        {"ALTER TABLE orders MODIFY note varchar(20) DEFAULT 'x' COMMENT 'd'",
         "~ orders.note: comment 'c' -> comment 'd'", false},
        {"ALTER TABLE orders ADD UNIQUE (status)", "~ orders.status: key none -> key UNI", false},
    };
    for (const Step& step : steps) {
        reset();
        test::sql("USE cli_drift; " + step.sql + ";");
        for (const std::string format : {"text", "markdown", "json"}) {
            const test::Outcome run = check(format);
            if (format == "text" && !step.text) {
                EXPECT_EQ(run.status, 0) << step.sql << "\n" << run.out;
                continue;
            }
            EXPECT_EQ(run.status, 3) << step.sql << " " << format << "\n" << run.err;
            const size_t count = std::count(step.lines.begin(), step.lines.end(), '\n') + 1;
            EXPECT_EQ(run.out, step.lines + "\n" + std::to_string(count) +
                                   (count == 1 ? " difference from " : " differences from ") +
                                   dir.file(format) + "\n")
                << format;
        }
    }

    // Named tables: only those are compared, and one gone is a difference.
    reset();
    test::sql("USE cli_drift; DROP TABLE orders; CREATE TABLE other (a int);");
    const test::Outcome named = check("json", {"orders"});
    EXPECT_EQ(named.status, 3);
    EXPECT_EQ(named.out,
              "- table orders (4 columns)\n1 difference from " + dir.file("json") + "\n");
}

TEST_F(Documents, NothingUncheckedPassesAsEqual) {
    database = "cli_fail";
    test::recreateDatabase(database);
    test::sql("USE cli_fail; CREATE TABLE t (a int); CREATE VIEW v AS SELECT a FROM t;");
    ASSERT_EQ(exportAs("json", "ok.json").status, 0);

    // A table the server can no longer read is not checked.
    test::sql("USE cli_fail; ALTER TABLE t RENAME COLUMN a TO b;");
    test::Outcome run = check("ok.json");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "~ t.a: renamed to b\n1 difference from " + dir.file("ok.json") + "\n");
    EXPECT_NE(run.err.find("orvendel-export: table `v`: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("orvendel-export: 1 table was not checked\n"), std::string::npos);
    // The documents say why, and stay valid.
    EXPECT_EQ(exportAs("json", "broken.json").status, 1);
    EXPECT_EQ(exportAs("markdown", "broken.md").status, 1);
    expectValidDocuments(dir.file("broken.json"), dir.file("broken.md"));
    EXPECT_NE(test::readFile(dir.file("broken.md")).find("- Unreadable: \\[ma-"),
              std::string::npos);
    ::unlink(dir.file("broken.json").c_str());
    ::unlink(dir.file("broken.md").c_str());
    // A name asked for that is in neither.
    run = check("ok.json", {"t", "gone"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "orvendel-export: table `gone` is not in database cli_fail\n"
                       "orvendel-export: 1 table was not checked\n");

    // A file cut short, or one that is no report: nothing is compared.
    const std::string whole = test::readFile(dir.file("ok.json"));
    test::writeFile(dir.file("cut.json"), whole.substr(0, whole.size() / 2));
    test::writeFile(dir.file("other.txt"), "hello\n");
    for (const std::string file : {"cut.json", "other.txt"}) {
        run = check(file);
        EXPECT_EQ(run.status, 4) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(
            run.err.starts_with("orvendel-export: cannot check against " + dir.file(file) + ": "))
            << run.err;
    }
    // No server, and no report written by --check.
    test::Launch launch = test::withLogin(database, {"--check", dir.file("ok.json"), "--all"});
    launch.arguments[3] = std::to_string(test::closedPort());
    run = test::runExport(launch);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(dir.listing(), "cut.json ok.json other.txt");
}

TEST_F(Documents, OddNamesStayInTheirCellsAndReadBack) {
    database = "cli_odd";
    test::recreateDatabase(database);
    test::sql("USE cli_odd;"
              "CREATE TABLE `we``ird|pipe` (`a|b` int COMMENT 'x | y\\nz', `*em* _u_` int,"
              " `[l](x)` int, `<b>&amp;` int, ` lead` int, `größe\ttab` int,"
              " `back\\slash` int, `#1 @me :ok: $x$` varchar(3) DEFAULT 'a|b')"
              " COMMENT 'line\\nbreak | pipe';"
              "CREATE TABLE `new\nline` (`日本語` int);");
    for (const std::string format : {"markdown", "json"}) {
        ASSERT_EQ(exportAs(format, "odd." + format).status, 0);
        const test::Outcome same = check("odd." + format);
        EXPECT_EQ(same.status, 0) << same.out << same.err;
    }
    expectValidDocuments(dir.file("odd.json"), dir.file("odd.markdown"));
    const std::string markdown = test::readFile(dir.file("odd.markdown"));
    EXPECT_NE(markdown.find("| a\\|b | Integer | int(11) | yes |  | NULL |  |  | x \\| y\\x0Az |"),
              std::string::npos);
    EXPECT_NE(markdown.find("## <a id=\"table-1\" name=\"table-1\"></a>new\\x0Aline\n"),
              std::string::npos);
    const auto [ok, names] = shell(
        "python3 -c 'import json, sys; print([c[\"name\"] for t in json.load(open(sys.argv[1]))"
        "[\"tables\"] for c in t[\"columns\"]])' " +
        dir.file("odd.json"));
    EXPECT_EQ(names, "['日本語', 'a|b', '*em* _u_', '[l](x)', '<b>&amp;', ' lead', 'größe\\ttab', "
                     "'back\\\\slash', '#1 @me :ok: $x$']\n");
}
