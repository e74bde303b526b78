// Connections that fail, connections lost mid-session, signals: what the client says,
// its exit status, and the terminal left as it was.
#include <csignal>
#include <sys/socket.h>

#include "client_fixture.h"

namespace qs::test {
namespace {

// Runs qsclient with arguments and environment; it is to fail to connect with reason.
void expect_failure(const std::vector<std::string>& args, const std::string& address, const std::string& reason,
                    const std::vector<std::string>& env = {})
{
    pty_session term(QS_CLIENT_PATH, args, env);
    ASSERT_TRUE(term.expect("Connecting to " + address + "...Failed.\n" + reason + "\n" + paused));
    term.type("k");
    EXPECT_EQ(term.wait_exit(), 1);
    EXPECT_TRUE(restored(term));
}

TEST(ClientConnectFailure, ARefusedPortSaysSoAndExitsWith1)
{
    const refusing_port refusing;
    const std::string port = std::to_string(refusing.port());
    expect_failure({"127.0.0.1", port}, "127.0.0.1:" + port,
                   "The connection was refused: no server listens on that port.");
}

TEST(ClientConnectFailure, AnUnknownHostSaysSo)
{
    expect_failure({"nosuchhost.invalid", "7000"}, "nosuchhost.invalid:7000", "Unknown host: nosuchhost.invalid.");
}

// A listener whose queue is full drops further connection requests unanswered.
TEST(ClientConnectFailure, NoAnswerWithinTheTimeoutSaysSo)
{
    socket listener, filler;
    listener.create(0);
    listener.listen(0);
    sockaddr_in address{};
    socklen_t size = sizeof address;
    ::getsockname(listener.handle(), reinterpret_cast<sockaddr*>(&address), &size);
    const std::string port = std::to_string(ntohs(address.sin_port));
    filler.create(0);
    filler.connect("127.0.0.1", std::stoi(port));
    expect_failure({"127.0.0.1", port}, "127.0.0.1:" + port, "No answer from the server within 1 s.",
                   {"QSCLIENT_CONNECT_TIMEOUT=1"});
    filler.close();
    listener.close();
}

TEST(ClientConnectFailure, ATypedPortThatIsNoPortNumberConnectsNowhere)
{
    pty_session term(QS_CLIENT_PATH);
    ASSERT_TRUE(term.expect("(default localhost) "));
    term.type("\nabc\n");
    ASSERT_TRUE(term.expect("Enter Server's Port: (default 7000) abc\nConnecting to localhost:0...Failed.\n"
                            "The port must be a number from 1 to 65535.\n" +
                            paused));
    term.type("k");
    EXPECT_EQ(term.wait_exit(), 1);
}

// The server goes while the client waits for a key: the client says so at once.
class ClientLostTest : public ClientTest {
protected:
    // The client says so right after before, exits with 1 and restores the terminal.
    void expect_lost(const std::string& before)
    {
        ASSERT_TRUE(term.expect(lost));
        EXPECT_NE(term.output().find(before + lost), std::string::npos) << term.output();
        EXPECT_EQ(term.wait_exit(), 1);
        EXPECT_TRUE(restored(term));
    }
};

TEST_F(ClientLostTest, AtTheMenuWithNobodyLoggedIn)
{
    connect();
    server.stop();
    expect_lost(menu);
}

TEST_F(ClientLostTest, AtTheMenuLoggedIn)
{
    connect();
    log_in("ann");
    server.kill_hard();
    expect_lost(menu);
}

TEST_F(ClientLostTest, InTalkModeWithAHalfTypedLine)
{
    connect();
    log_in("ann");
    talk_with("bob");
    term.type("hel");
    ASSERT_TRUE(term.expect("hel"));
    server.kill_hard();
    expect_lost("msg: hel\n");
}

TEST_F(ClientLostTest, WhileAMessageWaitsForItsKey)
{
    connect();
    log_in("ann");
    {
        client bob(server.port());
        bob.exec("login bob pw");
        bob.exec("sendmessage ann hi");
    }
    ASSERT_TRUE(term.expect("Received Message(s)"));
    ASSERT_TRUE(term.expect(paused));
    server.stop();
    expect_lost("\n");
}

TEST_F(ClientLostTest, WhileSendingInCommandMode)
{
    connect();
    term.type("c");
    ASSERT_TRUE(term.expect("command: "));
    server.kill_hard();
    term.type("ver\n"); // the hang-up may be seen before or after the line is sent
    ASSERT_TRUE(term.expect(lost));
    EXPECT_EQ(term.wait_exit(), 1);
    EXPECT_TRUE(restored(term));
}

TEST_F(ClientTest, InterruptAndTerminateRestoreTheTerminal)
{
    connect();
    term.type("c");
    ASSERT_TRUE(term.expect("command: "));
    term.type("\x03");
    const int interrupted = term.wait_exit();
    EXPECT_TRUE(interrupted == 1000 + SIGINT || interrupted == 128 + SIGINT) << interrupted; // killed, or exited as if
    EXPECT_TRUE(restored(term));

#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer's runtime may hold back a SIGTERM sent while the client waits in poll";
#endif
    pty_session other(QS_CLIENT_PATH, {"127.0.0.1", std::to_string(server.port())});
    ASSERT_TRUE(other.expect(menu));
    other.send_signal(SIGTERM);
    const int status = other.wait_exit();
    EXPECT_TRUE(status == 1000 + SIGTERM || status == 128 + SIGTERM) << status; // killed, or exited as if
    EXPECT_TRUE(restored(other));
}

} // namespace
} // namespace qs::test
