#include <gtest/gtest.h>

#include <thread>

#include "logic_fixture.h"

namespace qs::test {
namespace {

using AccountTest = LogicTest;

TEST(Qsexcpt, MessagesFollowTheCodeTable)
{
    EXPECT_EQ(qsexcpt(3).message, "The user is already online.");
    EXPECT_EQ(qsexcpt(8).message, "The group is already exist.");
    EXPECT_EQ(qsexcpt(8).code(), 8);
    EXPECT_EQ(qsexcpt(-1).message, "");
    EXPECT_EQ(qsexcpt(99).message, "");
    for (int code = 9; code <= 16; ++code)
        EXPECT_EQ(qsexcpt(code).message.back(), '.') << code;
}

TEST_F(AccountTest, LoginChecksNameAndExactPasswordAndRefusesASecondSession)
{
    users({"ann", "Ann"});
    EXPECT_EQ(reply_of([&] { state.login("nobody", "pw"); }), "Invalid username.");
    EXPECT_EQ(reply_of([&] { state.login("ann", "PW"); }), "Invalid password.");
    EXPECT_EQ(reply_of([&] { state.login("ann", "pw "); }), "Invalid password.");
    session_handle first = login("ann");
    state.set_status("ann", "busy");
    EXPECT_EQ(reply_of([&] { login("ann"); }), "The user is already online.");
    EXPECT_EQ(state.find_session("ann"), first) << "the first session is untouched";
    std::string status;
    state.get_status("ann", status);
    EXPECT_EQ(status, "busy");
    session_handle other = login("Ann");
    EXPECT_NE(other, first) << "names differing in case are different users";
}

TEST_F(AccountTest, StoredMessagesStayStoredUntilHandedOutAndLogoutStoresOnlyTheRest)
{
    users({"ann", "bob"});
    state.send_message("ann", "bob", "one");
    state.send_custom_message("ann", "bob", "two");
    session_handle bob = login("bob");
    EXPECT_EQ(texts_of(db.scalar("SELECT messages FROM msgpool WHERE username = 'bob'")), texts_of("one"))
        << "a crash now loses nothing";
    EXPECT_TRUE(bob->pending[index_of(pool_kind::personal)]);
    EXPECT_FALSE(bob->pending[index_of(pool_kind::group)]);
    EXPECT_TRUE(bob->pending[index_of(pool_kind::custom)]);

    state.send_message("ann", "bob", "three");
    std::string custom;
    state.get_custom_message(bob, custom);
    EXPECT_EQ(texts_of(custom), std::vector<std::string>{"two"});
    EXPECT_EQ(db.scalar("SELECT custommessages FROM msgpool WHERE username = 'bob'"), "")
        << "the hand-out removed it from the stored pool";
    state.logout(bob);
    EXPECT_FALSE(state.is_active(bob));
    EXPECT_EQ(texts_of(db.scalar("SELECT messages FROM msgpool WHERE username = 'bob'")),
              (std::vector<std::string>{"one", "three"}))
        << "the stored entry once, the one that arrived online after it";
    EXPECT_EQ(db.scalar("SELECT custommessages FROM msgpool WHERE username = 'bob'"), "");
    EXPECT_EQ(reply_of([&] { state.logout(bob); }), "The user is not online.");
}

TEST_F(AccountTest, TheEndOfAConnectionLogsTheUserOutAndFreesTheName)
{
    users({"ann", "bob"});
    session_handle bob = login("bob");
    state.send_message("ann", "bob", "kept");
    state.logout_user("bob");
    state.logout_user("bob"); // nobody left: nothing happens
    EXPECT_EQ(texts_of(db.scalar("SELECT messages FROM msgpool WHERE username = 'bob'")),
              (std::vector<std::string>{"kept"}));
    EXPECT_NO_THROW(login("bob"));
}

TEST_F(AccountTest, PendingMessagesThatCannotBeStoredStayForTheNextLogin)
{
    users({"ann", "bob"});
    session_handle bob = login("bob");
    state.send_message("ann", "bob", "precious");
    db.exec("ALTER TABLE msgpool RENAME TO parked");
    EXPECT_THROW(state.logout_user("bob"), db_error);
    EXPECT_ANY_THROW(state.send_message("ann", "bob", "refused")) << "never acknowledged into memory alone";
    db.exec("ALTER TABLE parked RENAME TO msgpool");
    session_handle again = login("bob");
    EXPECT_EQ(again, bob) << "the next login takes the session over";
    std::string got;
    state.get_message(again, got);
    EXPECT_EQ(texts_of(got), (std::vector<std::string>{"precious"}));
}

TEST_F(AccountTest, ADeliveryToALeftSessionStoresItsMessagesFirst)
{
    users({"ann", "bob"});
    session_handle bob = login("bob");
    state.send_message("ann", "bob", "first");
    db.exec("ALTER TABLE msgpool RENAME TO parked");
    EXPECT_THROW(state.logout_user("bob"), db_error);
    db.exec("ALTER TABLE parked RENAME TO msgpool");
    state.send_message("ann", "bob", "second");
    EXPECT_FALSE(state.is_active(bob)) << "the left session was stored and closed";
    EXPECT_EQ(texts_of(db.scalar("SELECT messages FROM msgpool WHERE username = 'bob'")),
              (std::vector<std::string>{"first", "second"}));
}

TEST_F(AccountTest, AFailedLoginLeavesNoSessionBehind)
{
    users({"bob"});
    db.exec("ALTER TABLE msgpool RENAME TO parked");
    EXPECT_THROW(login("bob"), db_error);
    EXPECT_EQ(state.find_session("bob"), nullptr);
    db.exec("ALTER TABLE parked RENAME TO msgpool");
    EXPECT_NO_THROW(login("bob"));
}

TEST_F(AccountTest, NewUserWritesBothRowsOrNeither)
{
    users({"ann"});
    EXPECT_EQ(reply_of([&] { state.accounts().new_user("ann", "x"); }), "The user is already exist.");
    EXPECT_EQ(reply_of([&] { state.accounts().new_user("", "x"); }), "Invalid username.");
    EXPECT_EQ(reply_of([&] { state.accounts().new_user("a|b", "x"); }), "Invalid username.");
    db.exec("INSERT INTO msgpool (username) VALUES ('ghost')");
    EXPECT_EQ(reply_of([&] { state.accounts().new_user("ghost", "x"); }), "The user is already exist.");
    EXPECT_EQ(db.scalar("SELECT count(*) FROM userinfo WHERE username = 'ghost'"), "0")
        << "the failed second row took the first with it";

    std::vector<std::string> replies(6);
    std::vector<std::thread> racers;
    for (std::size_t i = 0; i < replies.size(); ++i)
        racers.emplace_back([&, i] { replies[i] = reply_of([&] { state.accounts().new_user("zed", "pw"); }); });
    for (auto& t : racers)
        t.join();
    EXPECT_EQ(std::count(replies.begin(), replies.end(), "(none)"), 1);
    EXPECT_EQ(std::count(replies.begin(), replies.end(), "The user is already exist."), 5);
    EXPECT_EQ(db.scalar("SELECT count(*) FROM msgpool WHERE username = 'zed'"), "1");
}

TEST_F(AccountTest, SetInfoFollowsTheKeyRules)
{
    users({"al"});
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"nickname=Al|email=|city", "nickname=Al|email=|tel=|details=|country=|province=|city=|facepath=|question="},
        {"nickname=a|nickname=b|tel=1=2",
         "nickname=b|email=|tel=1=2|details=|country=|province=|city=|facepath=|question="},
        {"username=x|contacts=y|Nickname=z",
         "nickname=b|email=|tel=1=2|details=|country=|province=|city=|facepath=|question="},
    };
    for (const auto& [items, record] : cases) {
        state.accounts().set_info("al", items);
        std::string out = "junk";
        state.accounts().public_record("al", out);
        EXPECT_EQ(out, record) << items;
    }
    EXPECT_EQ(reply_of([&] { state.accounts().set_info("nobody", "tel=1"); }), "Invalid username.");
    std::string info;
    state.accounts().info_record("al", info);
    EXPECT_EQ(info, cases[1].second + "|answer=|password=pw");
}

TEST_F(AccountTest, PasswordsAndAnswersNeverLeakThroughThePublicRecord)
{
    users({"al", "bo"});
    state.accounts().set_info("al", "question=pet?|answer=cat");
    state.accounts().set_info("bo", "tel=5");
    db.exec("UPDATE userinfo SET password = 'p|answer=cat' WHERE username = 'al'");
    std::string out;
    state.accounts().public_record("al", out);
    EXPECT_EQ(out.find("cat"), std::string::npos);
    EXPECT_EQ(reply_of([&] { state.accounts().password_for("al", "dog", out); }), "Invalid answer.");
    EXPECT_EQ(reply_of([&] { state.accounts().password_for("bo", "", out); }), "Invalid answer.")
        << "an unset answer never matches";
    state.accounts().password_for("al", "cat", out);
    EXPECT_EQ(out, "p|answer=cat");
    EXPECT_EQ(reply_of([&] { state.accounts().password_for("nobody", "", out); }), "Invalid username.");
}

TEST_F(AccountTest, InformationThatCouldNotBeReadBackIsRefused)
{
    users({"al"});
    state.accounts().set_info("al", "nickname=keep");
    const std::string big(state.reply_limit(), 'x');
    EXPECT_EQ(reply_of([&] { state.accounts().set_info("al", "nickname=new|details=" + big); }),
              "The information is too long.");
    std::string out;
    state.accounts().public_record("al", out);
    EXPECT_EQ(out.rfind("nickname=keep|", 0), 0u) << "nothing of a refused change is stored";
}

} // namespace
} // namespace qs::test
