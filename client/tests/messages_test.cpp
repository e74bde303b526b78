// Talk and send mode: the whole typed line is the message, as another client receives
// it; what cannot be carried is refused and nothing goes. Lines are edited by UTF-8
// character, and a character cut short is never sent.
#include <memory>

#include "client_fixture.h"

namespace qs::test {
namespace {

class MessageLineTest : public ClientTest {
protected:
    void SetUp() override
    {
        ClientTest::SetUp();
        bob = std::make_unique<client>(server.port());
        bob->exec("login bob pw");
        connect();
        log_in("ann");
    }

    // Types line at "msg: " in talk mode; bob is to receive text.
    void talk(const std::string& line, const std::string& text)
    {
        term.type(line + "\n");
        ASSERT_TRUE(term.expect("Sending...Ok.\nmsg: ")) << line;
        EXPECT_EQ(text_from("ann", bob->exec("getmessage")), text) << line;
    }
    // Types line at "msg: "; it is refused with why, and bob gets nothing.
    void refused(const std::string& line, const std::string& why)
    {
        term.type(line + "\n");
        ASSERT_TRUE(term.expect(why + "; nothing was sent.\nmsg: ")) << line;
        EXPECT_EQ(bob->exec("getmessage"), "No messages.") << line;
    }

    std::unique_ptr<client> bob; // logged in as bob
};

TEST_F(MessageLineTest, TalkModeSendsTheWholeLine)
{
    talk_with("bob");
    talk("hello bob", "hello bob");
    talk("two  spaces,\ta tab and a trailing space ", "two  spaces,\ta tab and a trailing space ");
    talk("\"quoted from end to end\"", "\"quoted from end to end\"");
    talk("an \"odd quote", "an \"odd quote");
    talk("a\"b c\"d", "a\"b c\"d");
    talk("\"", "\"");
    talk("\"\"", "\"\"");
    talk("it ends with a quote \"", "it ends with a quote \"");
}

TEST_F(MessageLineTest, TalkModeRefusesWhatCannotBeCarried)
{
    talk_with("bob");
    refused("a|b", "The message may not contain '|'");
    refused(" leading space", "The message may not start with a space");
    refused("say \"hi\" now", "Only the last word of the message may end with a quote (\")");
    refused("", "The message is empty");
    refused(std::string(240, 'x'), "The message is too long to send");
    talk("still talking", "still talking");
}

TEST_F(MessageLineTest, SendModeSendsTheWholeLineAndRefusesTheRest)
{
    term.type("s");
    ASSERT_TRUE(term.expect("His/her username: "));
    const std::string text = "well over the old 29 characters, \"an odd quote and two spaces  ";
    term.type("bob\n" + text + "\n");
    ASSERT_TRUE(term.expect("Sending...Ok.\n" + paused));
    EXPECT_EQ(text_from("ann", bob->exec("getmessage")), text);
    term.type(" s");
    ASSERT_TRUE(term.expect("His/her username: "));
    term.type("bob\npipe | here\n");
    ASSERT_TRUE(term.expect("Message: pipe | here\nThe message may not contain '|'; nothing was sent.\n" + paused));
    EXPECT_EQ(bob->exec("getmessage"), "No messages.");
}

TEST_F(MessageLineTest, BackspaceTakesBackAWholeCharacter)
{
    talk_with("bob");
    term.type("abc\xC3\xA9\x7f\x7f"
              "d\n");
    ASSERT_TRUE(term.expect("abc\xC3\xA9\b \b\b \bd\n"));
    ASSERT_TRUE(term.expect("Sending...Ok.\nmsg: "));
    EXPECT_EQ(text_from("ann", bob->exec("getmessage")), "abd");
    talk("\xE2\x82\xAC \xF0\x9F\x98\x80\x7f!", "\xE2\x82\xAC !");
    talk("x\xC3", "x"); // Enter cuts the character short: it is dropped
}

} // namespace
} // namespace qs::test
