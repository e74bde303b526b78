#include <gtest/gtest.h>

#include <sodium.h>

#include "qs/store/password_hash.h"

namespace qs::test {
namespace {

// "$argon2id$v=19$m=65536,t=2,p=1$": everything before the salt.
std::string parameters_of(const std::string& hash)
{
    return hash.substr(0, hash.rfind('$', hash.rfind('$') - 1) + 1);
}

TEST(PasswordHash, HashesVerifyAndPlainPasswordsMatchExactly)
{
    const std::string hash = hash_password("pw");
    EXPECT_TRUE(is_password_hash(hash)) << hash;
    EXPECT_TRUE(password_matches(hash, "pw"));
    EXPECT_FALSE(password_matches(hash, "pW"));
    EXPECT_NE(hash_password("pw"), hash) << "each hash has its own salt";

    EXPECT_FALSE(is_password_hash("pw"));
    EXPECT_TRUE(password_matches("pw", "pw"));
    EXPECT_FALSE(password_matches("pw", "pw "));
    EXPECT_FALSE(password_matches("", "x"));
}

// Hashes stored before there was one helper came from libsodium's default call with the
// interactive limits: they still verify, and new hashes are made with the same parameters.
TEST(PasswordHash, ReadsAndWritesWhatLibsodiumsDefaultCallStores)
{
    ASSERT_GE(sodium_init(), 0);
    char stored[crypto_pwhash_STRBYTES];
    const std::string typed = "s3cret";
    ASSERT_EQ(crypto_pwhash_str(stored, typed.data(), typed.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                crypto_pwhash_MEMLIMIT_INTERACTIVE),
              0);
    EXPECT_TRUE(is_password_hash(stored));
    EXPECT_TRUE(password_matches(stored, typed));
    EXPECT_FALSE(password_matches(stored, "other"));

    const std::string made = hash_password(typed);
    EXPECT_EQ(parameters_of(made), parameters_of(stored));
    EXPECT_EQ(crypto_pwhash_str_verify(made.c_str(), typed.data(), typed.size()), 0);
}

} // namespace
} // namespace qs::test
