#include <gtest/gtest.h>

#include <memory>

#include "server_process.h"
#include "store_fixture.h"

namespace qs::test {
namespace {

// A server of its own for every case: users are never deleted, so a server never sees
// its tables emptied under it.
class CommandTest : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        server = std::make_unique<server_process>();
        server->start();
    }
    std::unique_ptr<server_process> server;
};

const std::string count = "Too many or too few arguments.";
const std::string need_login = "You need to login before executing this command.";
const std::string need_logout = "You need to logout before executing this command.";

struct check_case {
    std::string line;
    std::string logged_out_reply;
    std::string logged_in_reply;
};

// Every keyword: its argument count and login-state checks, in their order.
TEST_F(CommandTest, EveryKeywordChecksCountAndLoginStateInOrder)
{
    const std::vector<check_case> cases = {
        {"login ann pw x", count, count},
        {"login ann", count, count},
        {"login nobody pw", "Invalid username.", need_logout},
        {"logout x", count, count},
        {"logout", need_login, "(logs out)"},
        {"newgroup", count, count},
        {"newgroup g", need_login, "Ok."},
        {"newuser a", count, count},
        {"newuser zed pw", "Ok.", need_logout},
        {"sendmessage bob", count, count},
        {"sendmessage bob hi", need_login, "Ok."},
        {"getmessage x", count, count},
        {"getmessage", need_login, "No messages."},
        {"sendgroupmessage g", count, count},
        {"sendgroupmessage none hi", need_login, "Invalid groupname."},
        {"getgroupmessage", need_login, "No messages."},
        {"sendcustommessage bob", count, count},
        {"sendcustommessage bob hi", need_login, "Ok."},
        {"getcustommessage", need_login, "No messages."},
        {"setcontactlist", count, count},
        {"setcontactlist bob", need_login, "Ok."},
        {"getcontactlist x", count, count},
        {"getcontactlist", need_login, "bob"},
        {"setstatus", count, count},
        {"setstatus away", need_login, "Ok."},
        {"getstatus", count, count},
        {"getstatus ann", "", "away"},
        {"select", need_login, count},
        {"select NOTHING", need_login, ""},
        {"getmemberlist", count, count},
        {"getmemberlist none", "Invalid groupname.", "Invalid groupname."},
        {"setmemberlist g", need_login, count},
        {"setmemberlist none ann", need_login, "Invalid groupname."},
        {"getmasterlist", count, count},
        {"setmasterlist g", need_login, count},
        {"getinfo", count, count},
        {"getinfo nobody", "Invalid username.", "Invalid username."},
        {"setinfo", need_login, count},
        {"setinfo tel=5", need_login, "Ok."},
        {"getpassword ann", count, need_logout},
        {"getpassword ann x", "Invalid answer.", need_logout},
        {"ver", "0.1", "0.1"},
        {"ver a b", "0.1", "0.1"},
        {"Login ann pw", "Unknown command.", "Unknown command."},
        {"log", "Unknown command.", "Unknown command."},
        {"logouts", "Unknown command.", "Unknown command."},
        {"", "Unknown command.", "Unknown command."},
    };
    client c(server->port());
    ASSERT_EQ(c.exec("newuser ann pw"), "Ok.");
    ASSERT_EQ(c.exec("newuser bob pw"), "Ok.");
    for (const auto& k : cases)
        EXPECT_EQ(c.exec(k.line), k.logged_out_reply) << "logged out: " << k.line;
    ASSERT_EQ(c.exec("login ann pw"), "Ok.");
    for (const auto& k : cases) {
        if (k.logged_in_reply == "(logs out)")
            continue;
        EXPECT_EQ(c.exec(k.line), k.logged_in_reply) << "logged in: " << k.line;
    }
    EXPECT_EQ(c.exec("logout"), "Ok.");
    EXPECT_EQ(c.exec("logout"), need_login);
}

TEST_F(CommandTest, AccountsMessagesGroupsAndStatusFromEndToEnd)
{
    client ann(server->port()), bob(server->port());
    EXPECT_EQ(ann.exec("newuser ann pw"), "Ok.");
    EXPECT_EQ(ann.exec("newuser ann pw"), "The user is already exist.");
    EXPECT_EQ(bob.exec("newuser bob pw"), "Ok.");
    EXPECT_EQ(ann.exec("login ann PW"), "Invalid password.");
    EXPECT_EQ(ann.exec("login ann pw"), "Ok.");
    EXPECT_EQ(bob.exec("login ann pw"), "The user is already online.");
    EXPECT_EQ(ann.exec("sendmessage bob \"see you soon\""), "Ok.");
    EXPECT_EQ(ann.exec("setinfo nickname=Annie|question=pet?|answer=cat"), "Ok.");
    EXPECT_EQ(bob.exec("getinfo ann"),
              "nickname=Annie|email=|tel=|details=|country=|province=|city=|facepath=|question=pet?");
    EXPECT_EQ(bob.exec("getpassword ann cat"), "pw");
    EXPECT_EQ(bob.exec("getpassword bob \"\""), "Invalid answer.");

    EXPECT_EQ(bob.exec("login bob pw"), "Ok.");
    const std::string got = bob.exec("getmessage");
    EXPECT_EQ(got.rfind("ann says: \"see you soon\" on ", 0), 0u) << got;
    EXPECT_EQ(ann.exec("newgroup team"), "Ok.");
    EXPECT_EQ(ann.exec("getmasterlist team"), "ann");
    EXPECT_EQ(bob.exec("setmemberlist team bob"), "You are not a master of that group.");
    EXPECT_EQ(bob.exec("sendgroupmessage team hi"), "You are not a member of that group.");
    EXPECT_EQ(ann.exec("setmemberlist team ann|bob|bob"), "Ok.");
    EXPECT_EQ(bob.exec("getmemberlist team"), "ann|bob|bob");
    EXPECT_EQ(bob.exec("sendgroupmessage team hi"), "Ok.");
    EXPECT_EQ(ann.exec("getgroupmessage").rfind("team.bob says: \"hi\" on ", 0), 0u);
    EXPECT_EQ(bob.exec("setcontactlist ann"), "Ok.");
    EXPECT_EQ(bob.exec("setstatus busy"), "Ok.");
    EXPECT_EQ(ann.exec("select STATUS"), "getstatus bob: busy");
    EXPECT_EQ(bob.exec("logout"), "Ok.");
    EXPECT_EQ(ann.exec("getstatus bob"), "");
}

} // namespace
} // namespace qs::test
