#include <gtest/gtest.h>

#include "logic_fixture.h"

namespace qs::test {
namespace {

using GroupTest = LogicTest;

std::string members(server_state& state, const std::string& group)
{
    std::string out;
    state.groups().get_member_list(group, out);
    return out;
}

TEST_F(GroupTest, NewGroupsStartWithTheirCreatorAsOnlyMasterAndMember)
{
    users({"ann"});
    state.groups().create("g");
    state.groups().set_master_list("g", "ann");
    state.groups().set_member_list("g", "ann");
    std::string masters;
    state.groups().get_master_list("g", masters);
    EXPECT_EQ(masters, "ann");
    EXPECT_EQ(members(state, "g"), "ann");
    EXPECT_EQ(reply_of([&] { state.groups().create("g"); }), "The group is already exist.");
    EXPECT_EQ(reply_of([&] { state.groups().create(""); }), "Invalid groupname.");
    EXPECT_EQ(reply_of([&] { members(state, "none"); }), "Invalid groupname.");
}

TEST_F(GroupTest, ListsAreStoredAsSentAndCheckedName_by_name)
{
    users({"ann", "bob"});
    state.groups().create("g");
    state.groups().set_member_list("g", "bob|ann|bob");
    EXPECT_EQ(members(state, "g"), "bob|ann|bob");
    for (const char* bad : {"ann|zed", "ann||bob", "ann|", "|ann"})
        EXPECT_EQ(reply_of([&] { state.groups().set_member_list("g", bad); }), "Invalid username.") << bad;
    EXPECT_EQ(members(state, "g"), "bob|ann|bob");
    EXPECT_EQ(reply_of([&] { state.groups().set_member_list("none", "ann"); }), "Invalid groupname.");
    state.groups().set_member_list("g", "");
    EXPECT_EQ(members(state, "g"), "");
    EXPECT_FALSE(state.groups().is_member("ann", "g")) << "an empty member list has nobody";

    const std::string too_long = "ann" + std::string(state.reply_limit(), '|');
    EXPECT_EQ(reply_of([&] { state.groups().set_member_list("g", too_long); }), "The list is too long.");
}

TEST_F(GroupTest, MembershipAndMastershipCompareNamesExactly)
{
    users({"ann", "Ann", "bob"});
    state.groups().create("g");
    state.groups().set_master_list("g", "ann");
    state.groups().set_member_list("g", "bob");
    EXPECT_TRUE(state.groups().is_master("ann", "g"));
    EXPECT_FALSE(state.groups().is_master("Ann", "g"));
    EXPECT_TRUE(state.groups().is_member("bob", "g"));
    EXPECT_FALSE(state.groups().is_member("ann", "g")) << "a master need not be a member";
    EXPECT_EQ(reply_of([&] { state.groups().is_member("zed", "g"); }), "Invalid username.");
    EXPECT_EQ(reply_of([&] { state.groups().is_member("zed", "none"); }), "Invalid groupname.")
        << "the group is checked first";
    state.groups().set_master_list("g", "bob");
    EXPECT_FALSE(state.groups().is_master("ann", "g")) << "a master who drops himself can change nothing more";
}

TEST_F(GroupTest, ContactListsBelongToExistingUsers)
{
    users({"ann", "bob"});
    state.set_contact_list("ann", "ann|bob");
    std::string out;
    state.accounts().get_contact_list("ann", out);
    EXPECT_EQ(out, "ann|bob");
    EXPECT_EQ(reply_of([&] { state.set_contact_list("ann", "zed"); }), "Invalid username.");
    EXPECT_EQ(reply_of([&] { state.set_contact_list("nobody", "ann"); }), "Invalid username.");
    EXPECT_EQ(reply_of([&] { state.accounts().get_contact_list("nobody", out); }), "Invalid username.");
    EXPECT_TRUE(state.accounts().users_exist(""));
    EXPECT_FALSE(state.accounts().users_exist("ann|"));
}

TEST_F(GroupTest, AFailedListWriteIsNeverReportedAsSuccess)
{
    users({"ann"});
    state.groups().create("g");
    db.exec("DROP TABLE groupinfo");
    db.exec("CREATE TABLE groupinfo (groupname TEXT PRIMARY KEY, members TEXT, masters TEXT, details TEXT, "
            "facepath TEXT, CHECK (length(members) < 3))");
    db.exec("INSERT INTO groupinfo (groupname) VALUES ('g')");
    EXPECT_EQ(reply_of([&] { state.groups().set_member_list("g", "ann"); }), "The change could not be saved.");
    db.exec("DROP TABLE groupinfo"); // the next reset() makes it as the schema says
}

} // namespace
} // namespace qs::test
