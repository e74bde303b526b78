#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "qs/store/group_info.h"
#include "qs/store/msg_pool.h"
#include "qs/store/store_codes.h"
#include "qs/store/user_info.h"
#include "store_fixture.h"

namespace qs::test {
namespace {

using RecordTest = StoreTest;

// A record of a data source that does not exist.
class nowhere_info : public user_info {
protected:
    std::string GetDefaultConnect() const override { return "DSN=No Such Source;"; }
};

void add_user(const std::string& name, const std::string& password = "pw")
{
    user_info u;
    u.open();
    u.add_new();
    u.set_username(name);
    u.set_password(password);
    u.update();
    u.close();
}

TEST_F(RecordTest, EmptyTablesOpenWithoutFilterAndMissingRowsGiveTheirCodes)
{
    user_info users;
    users.open();
    EXPECT_TRUE(users.is_open());
    EXPECT_TRUE(users.is_eof());
    EXPECT_STREQ(users.get_username(), "");
    EXPECT_STREQ(users.get_answer(), "");
    users.close();
    EXPECT_FALSE(users.is_open());

    user_info u;
    u.find_user("nobody");
    EXPECT_EQ(code_of([&] { u.open(); }), 11);
    EXPECT_TRUE(u.is_open()) << "left open for the destructor to close";
    msg_pool p;
    p.find_user("nobody");
    EXPECT_EQ(code_of([&] { p.open(); }), 11);
    group_info g;
    g.find_group("nogroup");
    EXPECT_EQ(code_of([&] { g.open(); }), 12);
    EXPECT_EQ(code_of([&] { users.requery(); }), 13) << "requery of a closed record";
    group_info twice;
    twice.open();
    EXPECT_EQ(code_of([&] { twice.open(); }), 10) << "a record is opened once";
}

TEST_F(RecordTest, AddNewWritesOnlyAssignedColumnsAndNullReadsAsEmpty)
{
    add_user("ann", "secret");
    EXPECT_EQ(db.scalar("SELECT count(*) FROM userinfo WHERE nickname IS NULL AND answer IS NULL"), "1");
    db.exec("INSERT INTO groupinfo (groupname, members, masters) VALUES ('g', NULL, 'ann')");

    user_info u;
    u.find_user("ann");
    u.open();
    EXPECT_STREQ(u.get_username(), "ann");
    EXPECT_STREQ(u.get_password(), "secret");
    EXPECT_STREQ(u.get_contacts(), "");
    group_info g;
    g.find_group("g");
    g.open();
    EXPECT_STREQ(g.get_members(), "");
    EXPECT_STREQ(g.get_masters(), "ann");
}

TEST_F(RecordTest, UpdateWritesOnlyTheColumnsChangedSinceEdit)
{
    add_user("bob");
    user_info first, second, idle;
    for (user_info* u : {&first, &second, &idle}) {
        u->find_user("bob");
        u->open();
        u->edit();
    }
    first.set_nickname("Bobby");
    second.set_email("bob@example.org");
    first.update();
    second.update(); // must not put back the nickname it read before
    idle.update();   // nothing changed: writes nothing
    EXPECT_EQ(db.scalar("SELECT nickname || ' ' || email || ' ' || password FROM userinfo"),
              "Bobby bob@example.org pw");
    EXPECT_STREQ(second.get_email(), "bob@example.org");
}

TEST_F(RecordTest, KeysTravelAsParametersSoEveryNameSelectsOnlyItsOwnRow)
{
    const std::vector<std::string> names = {"o'brien", "x' OR '1'='1", "a%", "a_", "a\\", "Ann", "ann", "[x]", "\"q\""};
    for (const auto& n : names)
        add_user(n, "pw of " + n);
    for (const auto& n : names) {
        user_info u;
        u.find_user(n);
        u.open();
        EXPECT_EQ(std::string(u.get_password()), "pw of " + n);
        u.move_next();
        EXPECT_TRUE(u.is_eof()) << n << " matched more than one row";
    }
    user_info injected;
    injected.find_user("' OR ''='");
    EXPECT_EQ(code_of([&] { injected.open(); }), 11);
}

TEST_F(RecordTest, EveryByteButNulPassesUnchanged)
{
    std::string all;
    for (int b = 1; b <= 255; ++b)
        all.push_back(static_cast<char>(b));
    const std::string key = "k\xe9y\xff";
    add_user(key);
    user_info u;
    u.find_user(key);
    u.open();
    u.edit();
    u.set_details(all);
    u.update();
    u.close();

    user_info again;
    again.find_user(key);
    again.open();
    EXPECT_EQ(std::string(again.get_username()), key);
    EXPECT_EQ(std::string(again.get_details()), all);
}

TEST_F(RecordTest, WritesLongerThanTheColumnLimitAreRefusedAndNothingIsCut)
{
    store_codes::set_max_field_len(100000);
    add_user("carl");
    const std::string big(100000, 'b');
    {
        user_info u;
        u.find_user("carl");
        u.open();
        u.edit();
        u.set_details(big);
        u.update();
    }
    store_codes::set_max_field_len(16); // a lower limit never cuts what is stored
    user_info u;
    u.find_user("carl");
    u.open();
    EXPECT_EQ(std::string(u.get_details()), big);

    u.edit();
    u.set_nickname(std::string(16, 'n'));
    u.set_city(std::string(17, 'c'));
    EXPECT_EQ(code_of([&] { u.update(); }), store_codes::value_too_long);
    EXPECT_EQ(db.scalar("SELECT count(*) FROM userinfo WHERE nickname IS NULL AND city IS NULL"), "1")
        << "a refused update writes none of its columns";
    u.set_city("Lyon");
    u.update();
    EXPECT_EQ(db.scalar("SELECT nickname || city FROM userinfo"), std::string(16, 'n') + "Lyon");

    msg_pool p;
    p.open();
    p.add_new();
    p.set_username("carl");
    p.set_msgs(std::string(17, 'm'));
    EXPECT_EQ(code_of([&] { p.update(); }), store_codes::value_too_long);
    EXPECT_EQ(db.scalar("SELECT count(*) FROM msgpool"), "0");
}

TEST_F(RecordTest, MovesRemoveAndRequeryWorkOnTheSnapshot)
{
    for (const char* n : {"u1", "u2", "u3"})
        add_user(n);
    user_info all;
    all.open();
    std::vector<std::string> seen;
    for (; !all.is_eof(); all.move_next())
        seen.emplace_back(all.get_username());
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"u1", "u2", "u3"}));
    EXPECT_STREQ(all.get_username(), "") << "past the last row";

    all.move_last();
    const std::string last = all.get_username();
    all.move_prev();
    all.move_first();
    all.move(2);
    EXPECT_EQ(std::string(all.get_username()), last);
    EXPECT_TRUE(all.can_update());
    all.remove();
    EXPECT_TRUE(all.is_eof());
    all.requery();
    int rows = 0;
    for (; !all.is_eof(); all.move_next())
        ++rows;
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(db.scalar("SELECT count(*) FROM userinfo WHERE username = '" + last + "'"), "0");
}

TEST_F(RecordTest, DatabaseFailuresPassThroughAsDbErrors)
{
    add_user("dora");
    user_info twin;
    twin.open();
    twin.add_new();
    twin.set_username("dora");
    try {
        twin.update();
        ADD_FAILURE() << "a duplicate key was inserted";
    } catch (const db_error& e) {
        EXPECT_TRUE(e.is_constraint_violation()) << "[" << e.sqlstate() << "] " << e.what();
    }

    db.exec("DROP TABLE groupinfo");
    group_info g;
    EXPECT_THROW(g.open(), db_error);
    EXPECT_FALSE(g.is_open());

    nowhere_info u;
    EXPECT_THROW(u.open(), db_error);
    EXPECT_FALSE(u.is_open());
}

TEST_F(RecordTest, DestroyingAnOpenRecordFreesItsConnection)
{
    add_user("eve");
    for (int i = 0; i < 40; ++i) {
        user_info u;
        u.find_user("eve");
        u.open();
    }
    if (db.is_postgresql()) { // the server lets a closed backend go a moment later
        std::string open;
        for (int i = 0; i < 100 && (open = db.scalar("SELECT count(*) FROM pg_stat_activity "
                                                     "WHERE datname = current_database()")) != "1";
             ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(open, "1") << "only the query's own connection";
    }
}

} // namespace
} // namespace qs::test
