#include <gtest/gtest.h>

#include "pty_session.h"
#include "server_process.h"
#include "store_fixture.h"

namespace qs::test {
namespace {

const std::string menu =
    "Main menu, press key to enter the sub menu.\n\n"
    "+---------------------------------------+\n"
    "| l    --log in.                        |\n"
    "| o    --log out.                       |\n"
    "| n    --create a quillspeak account.   |\n"
    "| t    --talk with your friend.         |\n"
    "| s    --send a message to your frined  |\n"
    "| c    --enter command-line mode.       |\n"
    "| q    --quit.                          |\n"
    "+---------------------------------------+\n";
const std::string paused = "Press any key to continue...";

// A server with the users ann, bob and cy (password pw), and qsclient on a terminal.
class ClientTest : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        server.start();
        client setup(server.port());
        for (const char* user : {"ann", "bob", "cy"})
            setup.exec(std::string("newuser ") + user + " pw");
    }

    // Starts qsclient and connects it to the server.
    void connect()
    {
        ASSERT_TRUE(term.expect("Enber Server's IP Address: (default localhost) "));
        term.type("127.0.0.1\n" + std::to_string(server.port()) + "\n");
        ASSERT_TRUE(term.expect("Connecting to 127.0.0.1:" + std::to_string(server.port()) + "...Ok.\n"));
        ASSERT_TRUE(term.expect(menu));
    }
    void log_in(const std::string& user)
    {
        term.type("l" + user + "\npw\n");
        ASSERT_TRUE(term.expect("Logging in...Ok.\nStarting daemon-proc...Ok.\n" + paused));
        term.type(" ");
        ASSERT_TRUE(term.expect(menu));
    }

    server_process server;
    pty_session term{QS_CLIENT_PATH};
};

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
    const termios after = term.settings();
    EXPECT_TRUE((after.c_lflag & ICANON) && (after.c_lflag & ECHO)) << "the terminal is restored";
}

TEST_F(ClientTest, APortThatIsNoNumberFailsToConnect)
{
    ASSERT_TRUE(term.expect("(default localhost) "));
    term.type("\nabc\n");
    ASSERT_TRUE(term.expect("Enter Server's Port: (default 7000) abc\nConnecting to localhost:0...Failed.\n" + paused));
    term.type("k");
    EXPECT_EQ(term.wait_exit(), 0);
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
    log_in("ann");  // the receiver of the first log-in has ended; a new one starts
}

TEST_F(ClientTest, NewAccountAsksAgainUntilThePasswordsMatch)
{
    connect();
    term.type("n");
    ASSERT_TRUE(term.expect("Create an quillspeak account, please enter the username and password\nUsername: "));
    term.type("dora\nsecret\nsecrte\n");
    ASSERT_TRUE(term.expect("Re-enter password: secrte\nWrong password!\nPassword: "));
    term.type("secret\nsecret\n");
    ASSERT_TRUE(term.expect("Creating an account...Ok.\n" + paused));
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
    term.type("\"hello bob\"\n");
    ASSERT_TRUE(term.expect("Sending...Ok.\n"));
    EXPECT_EQ(bob.exec("getmessage").rfind("ann says: \"hello bob\"", 0), 0u);
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
    term.type("q");  // acknowledges the message; the menu does not take it
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
    ASSERT_TRUE(term.expect("Command-line mode,\n\"/quit\" to return to the main menu.\n\"/clear\" to clear the screen.\n\ncommand: "));
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

// Needs port 7000 for itself: run alone.
TEST_F(ClientTest, EnterAtBothPromptsConnectsToLocalhostPort7000)
{
    server_process on_default({}, 7000);
    on_default.start();
    ASSERT_TRUE(term.expect("(default localhost) "));
    term.type("\n\n");
    ASSERT_TRUE(term.expect("Connecting to localhost:7000...Ok.\n"));
    ASSERT_TRUE(term.expect(menu));
    term.type("q");
    EXPECT_EQ(term.wait_exit(), 0);
}

} // namespace
} // namespace qs::test
