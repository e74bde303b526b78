#pragma once

#include <gtest/gtest.h>

#include "pty_session.h"
#include "server_process.h"
#include "store_fixture.h"

namespace qs::test {

inline const std::string menu = "Main menu, press key to enter the sub menu.\n\n"
                                "+---------------------------------------+\n"
                                "| l    --log in.                        |\n"
                                "| o    --log out.                       |\n"
                                "| n    --create a quillspeak account.   |\n"
                                "| t    --talk with your friend.         |\n"
                                "| s    --send a message to your frined  |\n"
                                "| c    --enter command-line mode.       |\n"
                                "| q    --quit.                          |\n"
                                "+---------------------------------------+\n";
inline const std::string paused = "Press any key to continue...";
inline const std::string lost = "Connection to the server lost.\n";

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

    // Answers the two prompts with the server's address.
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
    // Talk mode with partner, at its first "msg: ".
    void talk_with(const std::string& partner)
    {
        term.type("t");
        ASSERT_TRUE(term.expect("Who you want to talk with? "));
        term.type(partner + "\n");
        ASSERT_TRUE(term.expect("msg: "));
    }

    server_process server;
    pty_session term{QS_CLIENT_PATH};
};

// The terminal is as the client found it: lines and echo.
inline bool restored(const pty_session& term)
{
    const termios now = term.settings();
    return (now.c_lflag & ICANON) && (now.c_lflag & ECHO);
}

// What a getmessage reply holds of the message from sender: the text between the quotes.
inline std::string text_from(const std::string& sender, const std::string& reply)
{
    const std::string head = sender + " says: \"";
    const auto end = reply.rfind("\" on ");
    if (reply.rfind(head, 0) != 0 || end == std::string::npos || end < head.size())
        return "(no message from " + sender + ": " + reply + ")";
    return reply.substr(head.size(), end - head.size());
}

} // namespace qs::test
