// Passwords stored as typed or as hashes, on either database.
#include <gtest/gtest.h>

#include "logic_fixture.h"
#include "qs/store/password_hash.h"

namespace qs::test {
namespace {

using PasswordStorageTest = LogicTest;

settings hashed_storage()
{
    settings s;
    s.hashed_passwords = true;
    return s;
}

class HashedStorageTest : public LogicTest {
protected:
    HashedStorageTest() : LogicTest(hashed_storage()) {}
};

std::string stored_password(test_database& db, const std::string& name)
{
    return db.scalar("SELECT password FROM userinfo WHERE username = '" + name + "'");
}

TEST_F(HashedStorageTest, HashedStorageKeepsNoPasswordAndNeverSendsOne)
{
    state.accounts().new_user("ann", "pw one");
    const std::string hash = stored_password(db, "ann");
    EXPECT_TRUE(is_password_hash(hash)) << hash;
    EXPECT_EQ(hash.find("pw one"), std::string::npos);
    EXPECT_EQ(reply_of([&] { state.login("ann", "pw"); }), "Invalid password.");
    session_handle ann = state.login("ann", "pw one");
    state.accounts().set_info("ann", "password=two|answer=cat|question=pet?");
    EXPECT_TRUE(is_password_hash(stored_password(db, "ann")));
    EXPECT_NE(stored_password(db, "ann"), hash);
    state.logout(ann);
    EXPECT_EQ(reply_of([&] { state.login("ann", "pw one"); }), "Invalid password.");
    state.logout(state.login("ann", "two"));
    std::string out;
    EXPECT_EQ(reply_of([&] { state.accounts().password_for("ann", "cat", out); }),
              "Passwords are stored as hashes: the password cannot be sent.");
    EXPECT_EQ(out, "");
}

TEST_F(PasswordStorageTest, APlainPasswordBecomesItsHashAtTheNextLoginAndHashesStayUsable)
{
    state.accounts().new_user("bob", "pw");
    state.logout(state.login("bob", "pw"));
    session_handle bob = state.login("bob", "pw");
    state.accounts().set_info("bob", "answer=cat");
    state.logout(bob);
    EXPECT_EQ(stored_password(db, "bob"), "pw") << "plain storage keeps it as typed";
    std::string out;
    state.accounts().password_for("bob", "cat", out);
    EXPECT_EQ(out, "pw");

    server_state hashed{quick_retry(hashed_storage())}; // the server restarted with hashes
    EXPECT_EQ(reply_of([&] { hashed.login("bob", "wrong"); }), "Invalid password.");
    EXPECT_EQ(stored_password(db, "bob"), "pw") << "a failed login changes nothing";
    hashed.logout(hashed.login("bob", "pw"));
    EXPECT_TRUE(is_password_hash(stored_password(db, "bob")));

    server_state plain{quick_retry()}; // back to plain: the hash still lets bob in
    plain.logout(plain.login("bob", "pw"));
    EXPECT_EQ(reply_of([&] { plain.accounts().password_for("bob", "cat", out); }),
              "Passwords are stored as hashes: the password cannot be sent.");
}

// A login checks the password apart from the database and holds no lock meanwhile; a
// password changed before it goes on is checked again.
TEST_F(HashedStorageTest, ALoginChecksAgainWhenThePasswordChangedWhileItWaited)
{
    state.accounts().new_user("ann", "pw");
    password_work work;
    EXPECT_EQ(state.login("ann", "pw", work), nullptr);
    ASSERT_TRUE(work.pending());
    state.accounts().set_info("ann", "password=new");
    work.run();
    EXPECT_EQ(state.login("ann", "pw", work), nullptr) << "checked against the old password: again";
    work.run();
    EXPECT_EQ(reply_of([&] { state.login("ann", "pw", work); }), "Invalid password.");
    state.logout(state.login("ann", "new"));
}

TEST_F(HashedStorageTest, NewPasswordsAreHashedBeforeTheDatabaseIsAsked)
{
    password_work work;
    EXPECT_FALSE(state.accounts().new_user("ann", "pw", work));
    EXPECT_FALSE(state.accounts().user_exists("ann"));
    work.run();
    EXPECT_TRUE(state.accounts().new_user("ann", "pw", work));
    EXPECT_TRUE(password_matches(stored_password(db, "ann"), "pw"));
    work.clear();
    EXPECT_FALSE(state.accounts().set_info("ann", "password=a|nickname=N|password=b", work));
    work.run();
    EXPECT_TRUE(state.accounts().set_info("ann", "password=a|nickname=N|password=b", work));
    EXPECT_TRUE(password_matches(stored_password(db, "ann"), "b")) << "the last one counts";
    work.clear();
    EXPECT_TRUE(state.accounts().set_info("ann", "nickname=M", work)) << "no password: nothing to hash";
}

} // namespace
} // namespace qs::test
