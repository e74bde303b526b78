#include <gtest/gtest.h>

#include "qs/store/db_error_text.h"
#include "qs/store/missing_database_file.h"
#include "test_database.h"

namespace qs::test {
namespace {

TEST(DbErrorTextTest, LineBreaksBecomeSpacesAndTrailingSpacesGo)
{
    EXPECT_EQ(one_line("first\nsecond\r\nthird \n"), "first second  third");
    EXPECT_EQ(one_line(""), "");
}

TEST(DbErrorTextTest, TheSqlstateLeadsTheDriversMessageOnOneLine)
{
    test_database::get(); // the data source exists: no file is missing
    EXPECT_EQ(missing_database_file(), "");
    EXPECT_EQ(db_error_text(db_error("42S02", "[driver] no such table: x\n")),
              "SQLSTATE 42S02: [driver] no such table: x");
}

} // namespace
} // namespace qs::test
