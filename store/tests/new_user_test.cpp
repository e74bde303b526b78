#include <gtest/gtest.h>

#include "qs/store/db_error.h"
#include "qs/store/new_user.h"
#include "qs/store/recordset.h"
#include "qs/store/user_info.h"
#include "store_fixture.h"

namespace qs::test {
namespace {

using NewUserTest = StoreTest;

TEST_F(NewUserTest, BothRowsAreCommittedTogether)
{
    odbc::connection conn(recordset::data_source());
    add_user_rows(conn, "ann", "pw");
    EXPECT_EQ(db.scalar("SELECT password FROM userinfo WHERE username = 'ann'"), "pw");
    EXPECT_EQ(db.scalar("SELECT count(*) FROM msgpool WHERE username = 'ann' AND messages IS NULL"), "1");
}

TEST_F(NewUserTest, ARefusedRowUndoesTheOtherAndAutocommitIsBackOn)
{
    db.exec("INSERT INTO msgpool (username) VALUES ('bob')");
    odbc::connection conn(recordset::data_source());
    try {
        add_user_rows(conn, "bob", "pw");
        ADD_FAILURE() << "a second msgpool row was accepted";
    } catch (const db_error& e) {
        EXPECT_TRUE(e.is_constraint_violation()) << "[" << e.sqlstate() << "] " << e.what();
    }
    EXPECT_EQ(db.scalar("SELECT count(*) FROM userinfo"), "0");

    user_info u(&conn); // kept without a commit
    u.open_to_add();
    u.add_new();
    u.set_username("carl");
    u.update();
    EXPECT_EQ(db.scalar("SELECT username FROM userinfo"), "carl");
}

TEST_F(NewUserTest, ATooLongValueWritesNothing)
{
    store_codes::set_max_field_len(8);
    odbc::connection conn(recordset::data_source());
    EXPECT_EQ(code_of([&] { add_user_rows(conn, "dan", std::string(9, 'p')); }), store_codes::value_too_long);
    EXPECT_EQ(db.scalar("SELECT count(*) FROM userinfo"), "0");
    EXPECT_EQ(db.scalar("SELECT count(*) FROM msgpool"), "0");
}

} // namespace
} // namespace qs::test
