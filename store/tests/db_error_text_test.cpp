#include <gtest/gtest.h>

#include "qs/store/db_error_text.h"
#include "qs/store/missing_database_file.h"
#include "qs/store/store_codes.h"
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

// The server's log counts the record layer's codes from 10, qsprobe from 0.
TEST(FailureTextTest, EachProgramCountsTheStoreCodesFromItsOwnFirst)
{
    const record_words server = counted_codes("code ", store_codes::first);
    const record_words probe = counted_codes("record layer failure ", 0);
    const auto thrown = [](int code) { return std::make_exception_ptr(exception(code)); };
    EXPECT_EQ(failure_text(thrown(store_codes::open_failed), server), "code 10");
    EXPECT_EQ(failure_text(thrown(store_codes::no_such_user), server), "code 11");
    EXPECT_EQ(failure_text(thrown(store_codes::open_failed), probe), "record layer failure 0");
    EXPECT_EQ(failure_text(thrown(store_codes::no_such_group), probe), "record layer failure 2");
    EXPECT_EQ(failure_text(thrown(store_codes::value_too_long), probe), "record layer failure 4");
    EXPECT_EQ(failure_text(thrown(17), probe), "record layer failure 17") << "not a store code";
}

TEST(FailureTextTest, DriverFailuresAndOtherExceptionsReadTheSameInEveryProgram)
{
    test_database::get(); // no file is missing
    const record_words unused = [](const exception&) { return std::string("record"); };
    EXPECT_EQ(failure_text(std::make_exception_ptr(db_error("08001", "[driver] refused\n")), unused),
              "SQLSTATE 08001: [driver] refused");
    EXPECT_EQ(failure_text(std::make_exception_ptr(std::runtime_error("first\nsecond\n")), unused), "first second");
    EXPECT_EQ(failure_text(std::make_exception_ptr(db_error("08001", "x")), unused, file_check::skip),
              "SQLSTATE 08001: x");
    EXPECT_EQ(failure_text(std::make_exception_ptr(42), unused), "unknown failure");
    EXPECT_EQ(failure_text(std::make_exception_ptr(exception(0)), unused), "record");
    EXPECT_EQ(db_error_clause(db_error("HYT00", "[driver] timeout\r\n")), "(SQLSTATE HYT00): [driver] timeout");
}

} // namespace
} // namespace qs::test
