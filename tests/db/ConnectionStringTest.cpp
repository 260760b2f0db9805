#include "db/Login.h"

#include <gtest/gtest.h>

using orv::db::connectionString;
using orv::db::Login;

TEST(ConnectionString, OrdinaryValuesAreInsertedAsTyped) {
    EXPECT_EQ(connectionString({"localhost", "root", "", "shop", "3306"}),
              "DRIVER={MySQL ODBC 5.1 Driver};SERVER=localhost;USER=root;PASSWORD=;DATABASE=shop;"
              "PORT=3306;");
    EXPECT_EQ(connectionString({}),
              "DRIVER={MySQL ODBC 5.1 Driver};SERVER=;USER=;PASSWORD=;DATABASE=;PORT=;");
    // Blanks, "=" and other punctuation stay bare and untouched.
    EXPECT_EQ(connectionString({" db host ", "a=b", "p@ss 'w\"", "my db", "33o6"}),
              "DRIVER={MySQL ODBC 5.1 Driver};SERVER= db host ;USER=a=b;PASSWORD=p@ss 'w\";"
              "DATABASE=my db;PORT=33o6;");
}

TEST(ConnectionString, ValuesThatWouldBreakTheStringAreBraced) {
    EXPECT_EQ(connectionString({"h", "u", "a;b", "d", "1"}),
              "DRIVER={MySQL ODBC 5.1 Driver};SERVER=h;USER=u;PASSWORD={a;b};DATABASE=d;PORT=1;");
    EXPECT_EQ(orv::db::connectionStringValue("x}y"), "{x}}y}");
    EXPECT_EQ(orv::db::connectionStringValue("{x"), "{{x}");
    EXPECT_EQ(orv::db::connectionStringValue(";PORT=1;}"), "{;PORT=1;}}}");
}
