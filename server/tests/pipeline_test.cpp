#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <map>
#include <thread>

#include "qs/net/frame.h"
#include "logic_fixture.h"
#include "pipelined_burst.h"
#include "server_process.h"
#include "store_fixture.h"

namespace qs::test {
namespace {

using PipelineTest = StoreTest;

int count_of(const std::string& text, const std::string& piece)
{
    int n = 0;
    for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++n;
    return n;
}

TEST_F(PipelineTest, RequestsRunSideBySideAndEachGetsItsOwnReply)
{
    server_process server;
    server.start();
    client ann(server.port());
    ann.exec("newuser ann pw");
    ann.exec("login ann pw");
    auto waiting = std::async(std::launch::async, [&] { return ann.exec("select MSG"); });
    EXPECT_EQ(ann.exec("ver"), "0.1") << "answered while the select waits";
    EXPECT_EQ(ann.exec("sendmessage ann note"), "Ok.");
    EXPECT_EQ(waiting.get().rfind("getmessage: ann says: \"note\" on ", 0), 0u);

    raw_client raw(server.port());
    raw.send(encode_frame(7, "ver") + encode_frame(-2, "getstatus nobody")); // one segment
    frame a = raw.next(), b = raw.next();
    EXPECT_EQ(a.cid + b.cid, 5);
    raw.send(encode_frame(8, std::string(1020, 'x')) + encode_frame(9, "ver"));
    std::map<std::int32_t, std::string> replies; // they may come in either order
    for (int i = 0; i < 2; ++i) {
        frame f = raw.next();
        replies[f.cid] = f.text;
    }
    EXPECT_EQ(replies[8], "The command is too long.");
    EXPECT_EQ(replies[9], "0.1") << "the stream stays in step";
}

TEST_F(PipelineTest, PipelinedCommandsOfOneConnectionTakeEffectInOrder)
{
    server_process server;
    server.start();
    raw_client raw(server.port());
    raw.send(pipelined_burst()); // all at once, before any reply
    expect_burst_in_order(raw);
}

TEST_F(PipelineTest, TheEndOfAConnectionLogsItsUserOutAtOnce)
{
    server_process server;
    server.start();
    {
        client bob(server.port());
        bob.exec("newuser bob pw");
        bob.exec("login bob pw");
    }
    client again(server.port());
    std::string reply;
    for (int i = 0; i < 200 && (reply = again.exec("login bob pw")) != "Ok."; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(reply, "Ok.");

    // A flood of waiting selects: past the cap they are refused, other commands are still
    // answered, and the close is noticed.
    {
        raw_client flood(server.port());
        flood.send(encode_frame(1, "newuser cy pw"));
        ASSERT_EQ(flood.next().text, "Ok.");
        flood.send(encode_frame(2, "login cy pw"));
        ASSERT_EQ(flood.next().text, "Ok.");
        std::string many;
        for (int i = 0; i < 40; ++i)
            many += encode_frame(10 + i, "select MSG");
        flood.send(many + encode_frame(99, "ver"));
        std::map<std::int32_t, std::string> replies;
        while (replies.count(99) == 0) {
            frame f = flood.next();
            replies[f.cid] = f.text;
        }
        EXPECT_EQ(replies[99], "0.1") << "answered while 32 selects wait";
        EXPECT_EQ(replies.size(), 9u);
        for (int cid = 42; cid < 50; ++cid)
            EXPECT_EQ(replies[cid], "Too many selects are waiting on this connection.") << cid;
    }
    for (int i = 0; i < 200 && again.exec("getstatus cy") != ""; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(again.exec("getstatus cy"), "") << "cy was logged out";
    client cy(server.port());
    EXPECT_EQ(cy.exec("login cy pw"), "Ok.");
    cy.close();
    again.close();
    EXPECT_EQ(server.stop(), 0);
    // The selects of the closed connection ended without a connection to answer on: no failure.
    EXPECT_EQ(server.log().find("ERROR!!!"), std::string::npos) << server.log();
}

TEST_F(PipelineTest, StopClosesEveryConnectionAndKeepsPendingMessages)
{
    server_process server;
    server.start();
    client ann(server.port()), bob(server.port());
    ann.exec("newuser ann pw");
    ann.exec("newuser bob pw");
    ann.exec("login ann pw");
    bob.exec("login bob pw");
    ann.exec("sendmessage bob kept");
    auto waiting = std::async(std::launch::async, [&] { return ann.exec("select MSG"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(server.stop(), 0);
    EXPECT_THROW(waiting.get(), qs::exception) << "the connection ended";
    const std::string log = server.log_texts();
    EXPECT_EQ(count_of(log, "Closed a connection from 127.0.0.1"), 3) << "start's probe, ann, bob\n" << log;
    EXPECT_EQ(count_of(log, "Closed a connection from 127.0.0.1 (ann).\n"), 1) << log;
    EXPECT_EQ(count_of(log, "\nListen-proc stopped.\n"), 1) << log;
    EXPECT_EQ(log.rfind("Starting socket environment...Ok.\ninitializing socket...Ok.\nListening...\n", 0), 0u) << log;

    server.start();
    client back(server.port());
    EXPECT_EQ(back.exec("login bob pw"), "Ok.");
    EXPECT_EQ(back.exec("getmessage").rfind("ann says: \"kept\" on ", 0), 0u);
}

TEST_F(PipelineTest, AServerThatCannotListenSaysSoAndEnds)
{
    server_process first;
    first.start();
    temp_dir dir;
    std::ofstream(dir.path() + "/qsserver.conf") << "port=" << first.port() << "\nlog_path=q.log\n";
    auto [out, status] = run_qsserver(dir.path(), {"--console"});
    EXPECT_NE(status, 0);
    EXPECT_NE(read_file(dir.path() + "/q.log").find("initializing socket...Failed.\n"), std::string::npos);
    EXPECT_NE(read_file(dir.path() + "/run.err").find("cannot listen"), std::string::npos);
}

} // namespace
} // namespace qs::test
