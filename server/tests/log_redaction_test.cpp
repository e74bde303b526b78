#include <gtest/gtest.h>

#include "qs/server/logic/log_redaction.h"

namespace qs {
namespace {

TEST(LogRedaction, SecretsOfEveryCommandBecomeStars)
{
    EXPECT_EQ(redacted_command("login ann s3cret"), "login ann ***");
    EXPECT_EQ(redacted_command("LOGIN ann s3cret"), "LOGIN ann ***") << "a mistyped keyword hides it too";
    EXPECT_EQ(redacted_command("newuser ann \"two words\""), "newuser ann ***");
    EXPECT_EQ(redacted_command("login \"ann b\" pw x"), "login \"ann b\" ***") << "a quoted name stays whole";
    EXPECT_EQ(redacted_command("login \"ann pw"), "login \"ann ***") << "an unmatched quote hides the rest";
    EXPECT_EQ(redacted_command("  getpassword  ann cat"), "  getpassword  ann ***");
    EXPECT_EQ(redacted_command("login ann"), "login ann") << "nothing secret to hide";
    EXPECT_EQ(redacted_command("setinfo nickname=A|password=pw|Answer=cat|question=pet?"),
              "setinfo nickname=A|password=***|Answer=***|question=pet?");
    EXPECT_EQ(redacted_command("setinfo \"password=a b\""), "setinfo \"password=***\"");
    EXPECT_EQ(redacted_command("sendmessage bob password=pw"), "sendmessage bob password=pw") << "only those commands";
}

TEST(LogRedaction, GetpasswordsAnswerIsHiddenButNotItsRefusals)
{
    EXPECT_EQ(redacted_reply("getpassword ann cat", "s3cret"), "***");
    EXPECT_EQ(redacted_reply("getpassword ann dog", "Invalid answer."), "Invalid answer.");
    EXPECT_EQ(redacted_reply("getpassword ann", "Too many or too few arguments."), "Too many or too few arguments.");
    EXPECT_EQ(redacted_reply("getinfo ann", "nickname=A"), "nickname=A");
}

} // namespace
} // namespace qs
