#include <gtest/gtest.h>

#include "admin_run.h"
#include "store_fixture.h"

namespace qs::test {
namespace {

using AdminListingTest = StoreTest;

TEST_F(AdminListingTest, UsersByNameWithTheCountsOfTheirStoredMessages)
{
    EXPECT_EQ(qsadmin({"users"}).out, "");
    db.exec("INSERT INTO userinfo (username) VALUES ('carl'), ('ann'), ('bob')");
    db.exec(
        "INSERT INTO msgpool (username, messages, groupmessages, custommessages) VALUES "
        "('ann', 'bob says: \"a\" on 1|bob says: \"b\" on 2|carl says: \"c\" on 3', 'team.bob says: \"g\" on 4', ''),"
        "('carl', '', NULL, 'x|y')"); // bob has no msgpool row
    const auto r = qsadmin({"users"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "ann: 3 personal, 1 group, 0 custom\n"
                     "bob: 0 personal, 0 group, 0 custom\n"
                     "carl: 0 personal, 0 group, 2 custom\n");
}

TEST_F(AdminListingTest, GroupsWithTheirCountsAndOneGroupsMembersAndMasters)
{
    EXPECT_EQ(qsadmin({"groups"}).out, "");
    db.exec("INSERT INTO groupinfo (groupname, members, masters) VALUES "
            "('team', 'ann|bob|carl', 'ann|bob'), ('solo', 'dan', 'dan'), ('empty', '', NULL)");
    const auto all = qsadmin({"groups"});
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(all.out, "empty: 0 members, 0 masters\n"
                       "solo: 1 member, 1 master\n"
                       "team: 3 members, 2 masters\n");
    EXPECT_EQ(qsadmin({"group", "team"}).out, "members: ann, bob, carl\nmasters: ann, bob\n");
    EXPECT_EQ(qsadmin({"group", "empty"}).out, "members:\nmasters:\n");

    const auto missing = qsadmin({"group", "nope"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "qsadmin: no group 'nope'\n");
}

} // namespace
} // namespace qs::test
