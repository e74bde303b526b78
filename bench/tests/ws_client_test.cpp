// The client over a WebSocket, against a server made of Beast's own server side: its
// server role refuses unmasked frames, so every exchange here also checks the masking.
#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/json.hpp>
#include <thread>
#include <vector>

#include "bench_error.h"
#include "client.h"
#include "fake_server.h"
#include "ws_message.h"

namespace qsb {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace json = boost::json;
namespace websocket = beast::websocket;
using test::listener;

// Accepts one WebSocket, reads n requests, answers them last first with "re:" + cmd,
// then closes the WebSocket with code 1001 and `why`. Records the commands it read.
void answer_backwards(const listener& l, int n, std::vector<std::string>& commands, const std::string& why = "bye")
{
    asio::io_context io;
    websocket::stream<asio::ip::tcp::socket> ws(io);
    ws.next_layer().assign(asio::ip::tcp::v4(), l.accept_one());
    ws.accept();
    std::vector<json::object> got;
    for (int i = 0; i < n; ++i) {
        beast::flat_buffer buffer;
        ws.read(buffer);
        got.push_back(json::parse(beast::buffers_to_string(buffer.data())).as_object());
        commands.emplace_back(got.back().at("cmd").as_string());
    }
    for (auto it = got.rbegin(); it != got.rend(); ++it) {
        const std::string cmd(it->at("cmd").as_string());
        ws.write(asio::buffer(json::serialize(json::object{{"id", it->at("id")}, {"reply", "re:" + cmd}})));
    }
    boost::system::error_code ignored; // the client may be gone before it answers the close
    ws.close(websocket::close_reason(websocket::close_code::going_away, why), ignored);
}

endpoint ws_at(const listener& l)
{
    endpoint e = l.where();
    e.ws = true;
    return e;
}

TEST(WsClient, RepliesInAnyOrderReachTheirOwnRequests)
{
    listener l;
    std::vector<std::string> commands;
    std::thread server(answer_backwards, std::cref(l), 20, std::ref(commands), "bye");
    event_loop loop;
    client c(loop, ws_at(l));
    std::string why;
    c.on_error([&](const std::string& w) { why = w; });
    c.open();
    std::vector<std::string> sent, replies(20);
    for (std::size_t i = 0; i < 20; ++i) { // queued before the upgrade is even asked for
        sent.push_back("sendmessage bob \"" + std::to_string(i) + "\" \\ caf\xC3\xA9");
        c.queue(sent.back(), [&replies, i](const std::string& r) { replies[i] = r; });
    }
    c.flush();
    EXPECT_TRUE(loop.run_until([&] { return c.awaiting() == 0; }, after_seconds(10))) << why;
    EXPECT_TRUE(loop.run_until([&] { return !why.empty(); }, after_seconds(10)));
    server.join();
    EXPECT_EQ(commands, sent);
    for (std::size_t i = 0; i < 20; ++i)
        EXPECT_EQ(replies[i], "re:" + sent[i]);
    EXPECT_NE(why.find("1001 bye"), std::string::npos) << why;
    EXPECT_FALSE(c.is_open());
}

TEST(WsClient, TheServerClosingIsReportedOnceAndDropsWhatIsUnanswered)
{
    listener l;
    std::vector<std::string> commands;
    std::thread server(answer_backwards, std::cref(l), 2, std::ref(commands), "stopping");
    event_loop loop;
    client c(loop, ws_at(l));
    int errors = 0, answered = 0;
    std::string why;
    c.on_error([&](const std::string& w) { ++errors, why = w; });
    c.open();
    for (int i = 0; i < 3; ++i)
        c.request("ver", [&](const std::string&) { ++answered; });
    EXPECT_TRUE(loop.run_until([&] { return errors > 0; }, after_seconds(10)));
    server.join();
    EXPECT_EQ(answered, 2);
    EXPECT_EQ(errors, 1);
    EXPECT_NE(why.find("stopping"), std::string::npos) << why;
    EXPECT_EQ(c.awaiting(), 0u);
}

TEST(WsMessage, RepliesAreReadAndAnythingElseIsRefused)
{
    const qs::frame f = parse_ws_reply(R"({"reply":"Ok. \"x\"\n","id":-5})");
    EXPECT_EQ(f.cid, -5);
    EXPECT_EQ(f.text, "Ok. \"x\"\n");
    for (const char* bad : {"", "[1]", R"({"id":1})", R"({"reply":"x"})", R"({"id":"1","reply":"x"})",
                            R"({"id":1.5,"reply":"x"})", R"({"id":2147483648,"reply":"x"})", R"({"id":1,"reply":2})"})
        EXPECT_THROW(parse_ws_reply(bad), bench_error) << bad;
}

TEST(WsMessage, ARequestCarriesItsIdAndTheCommandUnchanged)
{
    const std::string cmd = "sendmessage bob \"quoted\" back\\slash\ttab caf\xC3\xA9 \x01";
    const json::object o = json::parse(ws_request(-2147483647 - 1, cmd)).as_object();
    EXPECT_EQ(o.at("id").as_int64(), -2147483647 - 1);
    EXPECT_EQ(std::string(o.at("cmd").as_string()), cmd);
    EXPECT_EQ(o.size(), 2u);
}

} // namespace
} // namespace qsb
