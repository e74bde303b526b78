#include <gtest/gtest.h>

#include "qs/store/password_hash.h"
#include "qs/server/logic/password_work.h"

namespace qs {
namespace {

// With hashed storage every check waits for the hashing pool, whatever is stored, so
// that its time tells nothing; the result is right in every case.
TEST(PasswordWork, WithHashedStorageEveryCheckCostsOneHash)
{
    const std::string hash = hash_password("pw");
    struct check_case {
        std::optional<std::string> stored;
        std::string typed;
        bool matches;
    };
    const check_case cases[] = {
        {std::nullopt, "pw", false}, {"pw", "wrong", false}, {"pw", "pw", true},
        {hash, "wrong", false},      {hash, "pw", true},
    };
    for (const auto& c : cases) {
        password_work w;
        w.check(c.stored, c.typed, true);
        EXPECT_TRUE(w.pending()) << c.typed;
        EXPECT_FALSE(w.checked(c.stored, c.typed));
        w.run();
        EXPECT_TRUE(w.checked(c.stored, c.typed));
        EXPECT_EQ(w.matched(), c.matches) << c.typed;
    }
}

TEST(PasswordWork, APlainPasswordThatMatchesUnderHashedStorageIsHashed)
{
    password_work w;
    w.check(std::string("pw"), "pw", true);
    w.run();
    ASSERT_TRUE(is_password_hash(w.new_hash()));
    EXPECT_TRUE(password_matches(w.new_hash(), "pw"));
    w.check(std::string("pw"), "wrong", true);
    w.run();
    EXPECT_EQ(w.new_hash(), "");
}

TEST(PasswordWork, WithPlainStorageOnlyAStoredHashNeedsThePool)
{
    password_work w;
    w.check(std::string("pw"), "pw", false);
    EXPECT_FALSE(w.pending());
    EXPECT_TRUE(w.matched());
    w.check(std::nullopt, "pw", false);
    EXPECT_FALSE(w.pending());
    EXPECT_FALSE(w.matched());
    w.check(hash_password("pw"), "pw", false);
    EXPECT_TRUE(w.pending());
}

TEST(PasswordWork, ACheckHoldsForWhatWasStoredAndTypedOnly)
{
    password_work w;
    w.check(std::string("old"), "pw", true);
    w.run();
    EXPECT_FALSE(w.checked(std::string("new"), "pw")) << "the password changed meanwhile";
    EXPECT_FALSE(w.checked(std::nullopt, "pw"));
    EXPECT_FALSE(w.checked(std::string("old"), "other"));
    EXPECT_FALSE(w.hashed("pw"));
}

TEST(PasswordWork, HashingANewPassword)
{
    password_work w;
    w.hash("secret");
    EXPECT_TRUE(w.pending());
    EXPECT_FALSE(w.hashed("secret"));
    w.run();
    EXPECT_TRUE(w.hashed("secret"));
    EXPECT_FALSE(w.hashed("other"));
    EXPECT_TRUE(password_matches(w.hash_made(), "secret"));
    w.clear();
    EXPECT_FALSE(w.hashed("secret"));
}

} // namespace
} // namespace qs
