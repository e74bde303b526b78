// The menu, its actions and the two prompts.
#include "client_fixture.h"

namespace qs::test {
namespace {

TEST_F(ClientTest, StartUpMenuUnknownKeysAndQuit)
{
    ASSERT_TRUE(term.expect("\x1b[2J\x1b[H"));
    ASSERT_TRUE(term.expect("Initializing socket envieronment...Ok.\nCreating socket...Ok.\n"));
    connect();
    term.type("L");
    ASSERT_TRUE(term.expect("\nUnknown command.\n" + paused));
    term.type("x");
    ASSERT_TRUE(term.expect(menu));
    term.type("q");
    EXPECT_EQ(term.wait_exit(), 0);
    EXPECT_EQ(term.output().find(paused, term.output().rfind(menu)), std::string::npos) << "q does not pause";
    EXPECT_TRUE(restored(term));
}

TEST_F(ClientTest, LogInOnceThenLogOutAfterYesNoAndOtherKeys)
{
    connect();
    log_in("ann");
    term.type("lann\npw\n");
    ASSERT_TRUE(term.expect("Logging in...You need to logout before executing this command.\n" + paused));
    EXPECT_EQ(term.output().find("Starting daemon-proc", term.output().rfind("Logging in...You")), std::string::npos);
    term.type(" ");
    term.type("o");
    ASSERT_TRUE(term.expect("Log out\nAre you sure? (y/n)"));
    term.type("x");
    ASSERT_TRUE(term.expect("\nLog out\nAre you sure? (y/n)"));
    term.type("n");
    ASSERT_TRUE(term.expect("\nYou have canceled this action\n" + paused));
    term.type(" o");
    ASSERT_TRUE(term.expect("(y/n)"));
    term.type("Y");
    ASSERT_TRUE(term.expect("\nLogging out...Ok.\n" + paused));
    term.type(" ");
    log_in("ann"); // the receiver of the first log-in has ended; a new one starts
}

TEST_F(ClientTest, NewAccountAsksAgainUntilThePasswordsMatch)
{
    connect();
    term.type("n");
    ASSERT_TRUE(term.expect("Create an quillspeak account, please enter the username and password\nUsername: "));
    term.type("dora\nsecret\nsecrte\n");
    ASSERT_TRUE(term.expect("Password: ******\nRe-enter password: ******\nWrong password!\nPassword: "));
    term.type("se3\x7f"
              "cr\xC3\xA9t\nsecr\xC3\xA9t\n");
    ASSERT_TRUE(term.expect("***\b \b****\nRe-enter password: ******\n"));
    ASSERT_TRUE(term.expect("Creating an account...Ok.\n" + paused));
    EXPECT_EQ(term.output().find("secr"), std::string::npos) << "no password is shown";
    client dora(server.port());
    EXPECT_EQ(dora.exec("login dora secr\xC3\xA9t"), "Ok.");
}

TEST_F(ClientTest, TheLogInPasswordIsNotShownAndMayHoldASpace)
{
    client setup(server.port());
    setup.exec("newuser dan \"a b\"");
    connect();
    term.type("ldan\na b\n");
    ASSERT_TRUE(term.expect("Password: ***\nLogging in...Ok.\n"));
    EXPECT_EQ(term.output().find("a b"), std::string::npos);
}

TEST_F(ClientTest, TalkModeShowsMessagesAsTheyArriveAndOutsideItTheyWaitForAKey)
{
    connect();
    log_in("ann");
    client bob(server.port());
    bob.exec("login bob pw");
    term.type("t");
    ASSERT_TRUE(term.expect("Talk mode.\n\nWho you want to talk with? "));
    term.type("bob\n");
    ASSERT_TRUE(term.expect("msg: "));
    EXPECT_EQ(bob.exec("sendmessage ann hi"), "Ok.");
    ASSERT_TRUE(term.expect(" bob says: \"hi\" on "));
    ASSERT_TRUE(term.expect("msg: "));
    term.type("hello bob\n");
    ASSERT_TRUE(term.expect("Sending...Ok.\n"));
    EXPECT_EQ(bob.exec("getmessage").rfind("ann says: \"hello bob\" on ", 0), 0u);
    term.type(std::string(250, 'x') + "\n");
    ASSERT_TRUE(term.expect("The message is too long to send; nothing was sent.\n"));
    term.type("/quit\n");
    ASSERT_TRUE(term.expect(paused));
    term.type(" ");
    ASSERT_TRUE(term.expect(menu));

    EXPECT_EQ(bob.exec("sendmessage ann again"), "Ok.");
    ASSERT_TRUE(term.expect("Received Message(s)"));
    ASSERT_TRUE(term.expect(" bob says: \"again\" on "));
    ASSERT_TRUE(term.expect(paused));
    term.type("q"); // acknowledges the message; the menu does not take it
    term.type("c");
    ASSERT_TRUE(term.expect("Command-line mode,"));
    term.type("/quit\nq");
    EXPECT_EQ(term.wait_exit(), 0);
}

TEST_F(ClientTest, CommandLineModeKeepsAHalfTypedLineAndCutsLongResults)
{
    connect();
    log_in("ann");
    client bob(server.port());
    bob.exec("login bob pw");
    bob.exec("setinfo nickname=" + std::string(300, 'n'));
    term.type("c");
    ASSERT_TRUE(term.expect(
        "Command-line mode,\n\"/quit\" to return to the main menu.\n\"/clear\" to clear the screen.\n\ncommand: "));
    term.type("ver\n");
    ASSERT_TRUE(term.expect("ver\n0.1\ncommand: "));
    term.type("getinfo bob\n");
    ASSERT_TRUE(term.expect("getinfo bob\nnickname=" + std::string(246, 'n') + "\ncommand: "));
    term.type("ve");
    ASSERT_TRUE(term.expect("ve"));
    bob.exec("sendmessage ann ping");
    ASSERT_TRUE(term.expect("Received Message(s)"));
    ASSERT_TRUE(term.expect(paused));
    term.type("z");
    ASSERT_TRUE(term.expect("\ncommand: ve")) << "the half-typed line is drawn again";
    term.type("r\n");
    ASSERT_TRUE(term.expect("r\n0.1\ncommand: "));
    term.type("/clear\n");
    ASSERT_TRUE(term.expect("\x1b[2J\x1b[H"));
    ASSERT_TRUE(term.expect("command: "));
    term.type("/quit\n");
    ASSERT_TRUE(term.expect(menu));
}

TEST_F(ClientTest, EnterAtBothPromptsConnectsToLocalhostAndTheDefaultPort)
{
    const std::string port = std::to_string(server.port());
    pty_session other(QS_CLIENT_PATH, {}, {"QSCLIENT_DEFAULT_PORT=" + port});
    ASSERT_TRUE(other.expect("(default localhost) "));
    other.type("\n");
    ASSERT_TRUE(other.expect("Enter Server's Port: (default " + port + ") "));
    other.type("\n");
    ASSERT_TRUE(other.expect("Connecting to localhost:" + port + "...Ok.\n"));
    ASSERT_TRUE(other.expect(menu));
    other.type("q");
    EXPECT_EQ(other.wait_exit(), 0);
}

TEST_F(ClientTest, WithoutTheVariableThePortPromptSays7000)
{
    ASSERT_TRUE(term.expect("Enber Server's IP Address: (default localhost) "));
    term.type("\n");
    ASSERT_TRUE(term.expect("Enter Server's Port: (default 7000) "));
}

} // namespace
} // namespace qs::test
