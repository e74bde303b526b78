#include <gtest/gtest.h>

#include <sodium.h>

#include "admin_run.h"
#include "qs/store/password_hash.h"
#include "store_fixture.h"

namespace qs::test {
namespace {

class AdminAccountTest : public StoreTest {
protected:
    std::string password_of(const std::string& name) const
    {
        return db.scalar("SELECT password FROM userinfo WHERE username = '" + name + "'");
    }
    std::string rows_of(const std::string& name) const
    {
        return db.scalar("SELECT COUNT(*) FROM userinfo WHERE username = '" + name + "'") + "+" +
               db.scalar("SELECT COUNT(*) FROM msgpool WHERE username = '" + name + "'");
    }
};

bool verifies(const std::string& hash, const std::string& password)
{
    return sodium_init() >= 0 && crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

TEST_F(AdminAccountTest, AddUserMakesBothRowsAndRefusesATakenName)
{
    const auto added = qsadmin({"adduser", "ann"}, "pw\n");
    EXPECT_EQ(added.status, 0) << added.err;
    EXPECT_EQ(added.out, "Added user ann.\n");
    EXPECT_EQ(rows_of("ann"), "1+1");
    EXPECT_EQ(password_of("ann"), "pw");

    const auto again = qsadmin({"adduser", "ann"}, "other\n");
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.err, "qsadmin: user 'ann' exists already\n");
    EXPECT_EQ(password_of("ann"), "pw");
}

TEST_F(AdminAccountTest, AddUserWritesBothRowsOrNeither)
{
    db.exec("INSERT INTO msgpool (username) VALUES ('ann')"); // the second insert fails
    EXPECT_EQ(qsadmin({"adduser", "ann"}, "pw\n").status, 1);
    EXPECT_EQ(rows_of("ann"), "0+1");
}

TEST_F(AdminAccountTest, AddUserRefusesWhatTheServerWouldRefuse)
{
    for (const std::string name : {"", "a|b"}) {
        const auto r = qsadmin({"adduser", name}, "pw\n");
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(r.err, "qsadmin: invalid user name '" + name + "': it must not be empty nor contain '|'\n");
    }
    EXPECT_EQ(qsadmin({"adduser", "ann"}, "").err, "qsadmin: no password given\n");
    EXPECT_EQ(qsadmin({"adduser", "ann"}, "\nsecond line\n").err, "qsadmin: the password is empty\n");
    const auto too_long = qsadmin({"adduser", "ann"}, std::string(2049, 'p') + "\n");
    EXPECT_EQ(too_long.status, 1);
    EXPECT_EQ(too_long.err, "qsadmin: a value is longer than 2048 characters\n");
    EXPECT_EQ(db.scalar("SELECT COUNT(*) FROM userinfo") + db.scalar("SELECT COUNT(*) FROM msgpool"), "00");
}

TEST_F(AdminAccountTest, PasswordsAreStoredAsTypedOrAsArgon2idHashes)
{
    ASSERT_EQ(qsadmin({"adduser", "--hashed", "ann"}, "first\n").status, 0);
    EXPECT_EQ(password_of("ann").rfind("$argon2id$", 0), 0u);
    EXPECT_TRUE(verifies(password_of("ann"), "first"));

    const auto plain = qsadmin({"passwd", "ann"}, "second\nignored\n");
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out, "Changed the password of ann.\n");
    EXPECT_EQ(password_of("ann"), "second");

    ASSERT_EQ(qsadmin({"passwd", "ann", "--hashed"}, "third\n").status, 0);
    const std::string hash = password_of("ann");
    EXPECT_TRUE(verifies(hash, "third"));
    EXPECT_FALSE(verifies(hash, "second"));
    EXPECT_EQ(rows_of("ann"), "1+1");
}

// The server verifies with password_matches and stores hash_password's hashes.
TEST_F(AdminAccountTest, HashesVerifyBothWaysWithTheServersHelper)
{
    ASSERT_EQ(qsadmin({"adduser", "--hashed", "ann"}, "first\n").status, 0);
    const std::string by_admin = password_of("ann");
    EXPECT_TRUE(password_matches(by_admin, "first"));
    EXPECT_FALSE(password_matches(by_admin, "second"));

    const std::string by_server = hash_password("first");
    EXPECT_TRUE(verifies(by_server, "first"));
    EXPECT_EQ(by_server.substr(0, by_server.rfind('$', by_server.rfind('$') - 1)),
              by_admin.substr(0, by_admin.rfind('$', by_admin.rfind('$') - 1)))
        << "the same algorithm, version and limits";
}

TEST_F(AdminAccountTest, PasswdNeedsAnExistingUser)
{
    const auto r = qsadmin({"passwd", "zed"}, "pw\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qsadmin: no user 'zed'\n");
    EXPECT_EQ(rows_of("zed"), "0+0");
}

TEST_F(AdminAccountTest, OnATerminalThePasswordIsTypedTwiceWithoutEcho)
{
    const auto typed =
        qsadmin_on_terminal({"adduser", "ann"}, {{"Password: ", "s3cret"}, {"Retype password: ", "s3cret"}});
    EXPECT_EQ(typed.status, 0);
    EXPECT_EQ(typed.out, "Password: \nRetype password: \nAdded user ann.\n");
    EXPECT_EQ(password_of("ann"), "s3cret");

    const auto differ = qsadmin_on_terminal({"passwd", "ann"}, {{"Password: ", "one"}, {"Retype password: ", "two"}});
    EXPECT_EQ(differ.status, 1);
    EXPECT_EQ(differ.out, "Password: \nRetype password: \nqsadmin: the passwords do not match\n");
    EXPECT_EQ(password_of("ann"), "s3cret");
}

} // namespace
} // namespace qs::test
