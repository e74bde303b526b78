// The web side of a real qsserver: the page's files over HTTP with their headers and
// limits, and the WebSocket carrying the commands as JSON, through Beast's own client.
#include <gtest/gtest.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <filesystem>
#include <fstream>
#include <thread>

#include "database_stall.h"
#include "server_process.h"
#include "store_fixture.h"
#include "test_certificates.h"

namespace qs::test {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

// A qsserver with its web port on a port of its own.
class WebTest : public StoreTest {
protected:
    std::vector<std::string> conf(std::vector<std::string> more = {}) const
    {
        more.push_back("http_port=auto");
        return more;
    }
    std::string own_origin() const { return "http://127.0.0.1:" + std::to_string(web_port); }

    // Starts the server and learns the two ports it got.
    void start(server_process& server)
    {
        web_port = server.start_for("HTTP");
        port = server.port();
    }

    int port = 0;
    int web_port = 0;
};

tcp::socket connect_to(asio::io_context& io, int port)
{
    tcp::socket s(io);
    s.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)));
    return s;
}

// Raw bytes out, one response back (empty_body for HEAD).
template <class Body = http::string_body>
http::response<Body> exchange(tcp::socket& s, beast::flat_buffer& buffer, const std::string& bytes, bool head = false)
{
    asio::write(s, asio::buffer(bytes));
    http::response_parser<Body> parser;
    parser.skip(head);
    http::read(s, buffer, parser);
    return parser.release();
}

http::response<http::string_body> get(int port, const std::string& target)
{
    asio::io_context io;
    auto s = connect_to(io, port);
    beast::flat_buffer buffer;
    return exchange(s, buffer, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

// True when the server closes the connection (whatever it answered first).
bool closed_by_server(tcp::socket& s)
{
    char sink[4096];
    boost::system::error_code ec;
    while (!ec)
        s.read_some(asio::buffer(sink), ec);
    return ec == asio::error::eof || ec == asio::error::connection_reset;
}

// A WebSocket client; origin "" sends no Origin header.
class ws_client {
public:
    explicit ws_client(int port, const std::string& origin = "") : ws_(connect_to(io_, port))
    {
        ws_.set_option(websocket::stream_base::decorator([origin](websocket::request_type& req) {
            if (!origin.empty())
                req.set(http::field::origin, origin);
        }));
        ws_.handshake(response_, "127.0.0.1:" + std::to_string(port), "/ws", error_);
    }

    void send(const std::string& message, bool binary = false)
    {
        ws_.binary(binary);
        ws_.write(asio::buffer(message));
    }
    // One frame of a text message.
    void send_part(const std::string& part, bool last)
    {
        ws_.binary(false);
        ws_.write_some(last, asio::buffer(part));
    }
    std::string next()
    {
        beast::flat_buffer buffer;
        ws_.read(buffer);
        return std::string(static_cast<const char*>(buffer.data().data()), buffer.size());
    }
    std::string ask(int id, const std::string& cmd)
    {
        send("{\"id\":" + std::to_string(id) + ",\"cmd\":\"" + cmd + "\"}");
        return next();
    }
    // The close code the server sent, once it closed.
    int close_code()
    {
        boost::system::error_code ec;
        beast::flat_buffer buffer;
        while (!ec)
            ws_.read(buffer, ec);
        return ec == websocket::error::closed ? static_cast<int>(ws_.reason().code) : -1;
    }
    void close() { ws_.close(websocket::close_code::normal); }
    // Reads, answering pings as Beast does while it reads, until count pings came; then
    // asks message and gives its reply ("" when the connection ended first, or no ping
    // came for ten seconds).
    std::string answer_pings_then_ask(int count, const std::string& message)
    {
        int pings = 0;
        ws_.control_callback([&pings](websocket::frame_type kind, beast::string_view) {
            pings += kind == websocket::frame_type::ping ? 1 : 0;
        });
        bool ended = false;
        beast::flat_buffer buffer;
        ws_.async_read(buffer, [&ended](boost::system::error_code, std::size_t) { ended = true; });
        while (pings < count && !ended && io_.run_one_for(std::chrono::seconds(10)) > 0) {
        }
        if (pings >= count && !ended)
            send(message);
        while (!ended && io_.run_one_for(std::chrono::seconds(10)) > 0) {
        }
        ws_.control_callback();
        return ended && pings >= count ? std::string(static_cast<const char*>(buffer.data().data()), buffer.size())
                                       : std::string();
    }

    boost::system::error_code error_; // of the handshake
    websocket::response_type response_;

private:
    asio::io_context io_;
    websocket::stream<tcp::socket> ws_;
};

// Waits until the log says text more often than it did before: the start's own probe
// connection logs "Closed a connection from ..." too.
bool wait_for_another(const server_process& server, const std::string& text, std::size_t before)
{
    for (int i = 0; i < 3000 && count_of(server.log(), text) <= before; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return count_of(server.log(), text) > before;
}

std::string reply(int id, const std::string& text)
{
    return "{\"id\":" + std::to_string(id) + ",\"reply\":\"" + text + "\"}";
}

// A web root with a few files, a folder, and links out of it and within it.
struct web_root {
    web_root()
    {
        namespace fs = std::filesystem;
        fs::create_directories(page() + "/sub");
        std::ofstream(page() + "/index.html") << "<p>page</p>";
        std::ofstream(page() + "/app.js") << "export {};";
        std::ofstream(page() + "/logo.png") << "png";
        std::ofstream(page() + "/data.bin") << "bin";
        std::ofstream(page() + "/sub/note.txt") << "note";
        std::ofstream(dir.path() + "/secret.txt") << "secret";
        fs::create_symlink(dir.path() + "/secret.txt", page() + "/out.txt");
        fs::create_symlink(dir.path(), page() + "/up");
        fs::create_symlink(page() + "/sub/note.txt", page() + "/near.txt");
    }
    std::string page() const { return dir.path() + "/page"; }
    std::string conf() const { return "web_root=" + page(); }

    temp_dir dir;
};

TEST_F(WebTest, ServesThePageWithTypesPolicyAndHealth)
{
    web_root root;
    server_process server(conf({root.conf()}));
    start(server);
    const auto page = get(web_port, "/");
    EXPECT_EQ(page.result_int(), 200);
    EXPECT_EQ(page.body(), "<p>page</p>");
    EXPECT_EQ(page[http::field::content_type], "text/html; charset=utf-8");
    EXPECT_EQ(page["Content-Security-Policy"], "default-src 'self'; connect-src 'self' ws://127.0.0.1 wss://127.0.0.1");
    EXPECT_EQ(page["X-Content-Type-Options"], "nosniff");
    EXPECT_EQ(page["Referrer-Policy"], "no-referrer");
    EXPECT_EQ(page[http::field::cache_control], "no-cache");
    const std::pair<const char*, const char*> types[] = {
        {"/app.js", "text/javascript; charset=utf-8"},  {"/logo.png", "image/png"},
        {"/data.bin", "application/octet-stream"},      {"/sub/note.txt", "text/plain; charset=utf-8"},
        {"/near.txt?x=1", "text/plain; charset=utf-8"}, {"/index.html", "text/html; charset=utf-8"}};
    for (const auto& [target, type] : types) {
        const auto res = get(web_port, target);
        EXPECT_EQ(res.result_int(), 200) << target;
        EXPECT_EQ(res[http::field::content_type], type) << target;
    }
    const auto health = get(web_port, "/healthz");
    EXPECT_EQ(health.result_int(), 200);
    EXPECT_EQ(health.body(), "ok\n");
    EXPECT_EQ(health["X-Content-Type-Options"], "nosniff");
}

TEST_F(WebTest, NoPathLeavesTheWebRoot)
{
    web_root root;
    server_process server(conf({root.conf()}));
    start(server);
    for (const char* target : {"/missing.html", "/../secret.txt", "/%2e%2e/secret.txt", "/sub/%2E%2E/%2e%2e/secret.txt",
                               "/sub/../../secret.txt", "/out.txt", "/up/secret.txt", "/%2fsecret.txt", "/sub%00.txt",
                               "/..%2fsecret.txt", "secret.txt"}) {
        const auto res = get(web_port, target);
        EXPECT_EQ(res.result_int(), 404) << target;
        EXPECT_EQ(res.body().find("secret"), std::string::npos) << target;
        EXPECT_EQ(res["X-Content-Type-Options"], "nosniff") << target;
    }
}

TEST_F(WebTest, HeadAndKeepAliveShareOneConnection)
{
    web_root root;
    server_process server(conf({root.conf()}));
    start(server);
    asio::io_context io;
    auto s = connect_to(io, web_port);
    beast::flat_buffer buffer;
    const auto head = exchange<http::empty_body>(s, buffer, "HEAD /app.js HTTP/1.1\r\nHost: h\r\n\r\n", true);
    EXPECT_EQ(head.result_int(), 200);
    EXPECT_EQ(head[http::field::content_length], "10");
    const auto again =
        exchange(s, buffer, "GET /app.js HTTP/1.1\r\nHost: h\r\n\r\nGET /sub/note.txt HTTP/1.1\r\nHost: h\r\n\r\n");
    EXPECT_EQ(again.body(), "export {};");
    http::response<http::string_body> pipelined;
    http::read(s, buffer, pipelined);
    EXPECT_EQ(pipelined.body(), "note");
    const auto post = exchange(s, buffer, "DELETE / HTTP/1.1\r\nHost: h\r\n\r\n");
    EXPECT_EQ(post.result_int(), 405);
    EXPECT_EQ(post[http::field::allow], "GET, HEAD");
}

TEST_F(WebTest, OversizedHeadersBodiesAndSlowRequestsAreClosed)
{
    server_process server(conf({"frame_timeout=1"}));
    start(server);
    asio::io_context io;
    {
        auto s = connect_to(io, web_port);
        beast::flat_buffer buffer;
        const auto res =
            exchange(s, buffer, "GET / HTTP/1.1\r\nHost: h\r\nX-Big: " + std::string(9000, 'b') + "\r\n\r\n");
        EXPECT_EQ(res.result_int(), 431);
        EXPECT_TRUE(closed_by_server(s));
    }
    {
        auto s = connect_to(io, web_port);
        beast::flat_buffer buffer;
        const auto res = exchange(s, buffer, "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 5\r\n\r\nhello");
        EXPECT_EQ(res.result_int(), 413);
        EXPECT_TRUE(closed_by_server(s));
    }
    {
        auto s = connect_to(io, web_port);
        beast::flat_buffer buffer;
        const auto res = exchange(
            s, buffer, "GET / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n");
        EXPECT_EQ(res.result_int(), 413);
    }
    {
        auto s = connect_to(io, web_port);
        beast::flat_buffer buffer;
        EXPECT_EQ(exchange(s, buffer, "NOT HTTP\r\n\r\n").result_int(), 400);
    }
    auto slow = connect_to(io, web_port);
    asio::write(slow, asio::buffer(std::string("GET / HTTP/1.1\r\nHost: h\r\n")));
    EXPECT_TRUE(closed_by_server(slow)); // after frame_timeout, the headers unfinished
}

TEST_F(WebTest, WebSocketAndTcpClientsChat)
{
    server_process server(conf());
    start(server);
    ws_client ann(web_port);
    ASSERT_FALSE(ann.error_) << ann.error_.message();
    EXPECT_EQ(ann.response_["X-Content-Type-Options"], "nosniff"); // the upgrade's 101 too
    EXPECT_TRUE(ann.response_["Content-Security-Policy"].starts_with("default-src 'self'"));
    client bob(port);
    EXPECT_EQ(ann.ask(1, "newuser ann pw"), reply(1, "Ok."));
    EXPECT_EQ(ann.ask(2, "login ann pw"), reply(2, "Ok."));
    EXPECT_EQ(bob.exec("newuser bob pw"), "Ok.");
    EXPECT_EQ(bob.exec("login bob pw"), "Ok.");
    ann.send(R"({"id": 3, "cmd": "select MSG"})"); // parked: answered when bob writes
    EXPECT_EQ(bob.exec("sendmessage ann \"hello ann\""), "Ok.");
    const std::string got = ann.next();
    EXPECT_TRUE(got.starts_with(R"({"id":3,"reply":"getmessage: )")) << got;
    EXPECT_NE(got.find("hello ann"), std::string::npos) << got;
    EXPECT_EQ(ann.ask(4, "sendmessage bob \\\"hi bob\\\""), reply(4, "Ok."));
    const std::string for_bob = bob.exec("select MSG");
    EXPECT_NE(for_bob.find("hi bob"), std::string::npos) << for_bob;
    EXPECT_EQ(bob.exec("setstatus caf\xe9"), "Ok."); // a single-byte text: U+FFFD in JSON
    EXPECT_EQ(ann.ask(5, "getstatus bob"), reply(5, "caf\xEF\xBF\xBD"));
}

TEST_F(WebTest, PipelinedRequestsAreAnsweredInOrderById)
{
    server_process server(conf({"buff_size=64"}));
    start(server);
    ws_client ws(web_port);
    ws.send(R"({"id":7,"cmd":"ver"})");
    ws.send(R"({"id":-2,"cmd":"newuser pipe pw","extra":[1]})");
    ws.send(R"({"id":2147483647,"cmd":"getstatus pipe"})");
    ws.send(R"({"id":9,"cmd":"getstatus )" + std::string(70, 'x') + R"("})");
    ws.send(R"({"id":10,"cmd":"ver\u0000 ignored"})");
    const std::string ver = ws.next();
    EXPECT_TRUE(ver.starts_with(R"({"id":7,"reply":")")) << ver;
    EXPECT_EQ(ws.next(), reply(-2, "Ok."));
    EXPECT_EQ(ws.next(), reply(2147483647, "")); // nobody logged in as pipe
    EXPECT_EQ(ws.next(), reply(9, "The command is too long."));
    EXPECT_EQ(ws.next(), ver.substr(0, 6) + "10" + ver.substr(7));
}

TEST_F(WebTest, MessagesThatAreNoRequestCloseTheWebSocket)
{
    server_process server(conf());
    start(server);
    const std::pair<std::string, int> cases[] = {{"not json", 1007},
                                                 {"[1, 2]", 1007},
                                                 {R"({"cmd":"ver"})", 1007},
                                                 {R"({"id":1.5,"cmd":"ver"})", 1007},
                                                 {R"({"id":"1","cmd":"ver"})", 1007},
                                                 {R"({"id":2147483648,"cmd":"ver"})", 1007},
                                                 {R"({"id":1,"cmd":["ver"]})", 1007},
                                                 {R"({"id":1})", 1007}};
    for (const auto& [message, code] : cases) {
        ws_client ws(web_port);
        ws.send(message);
        EXPECT_EQ(ws.close_code(), code) << message.substr(0, 40);
    }
    // 64 KiB in one frame, then one more byte: the server has read all when it refuses.
    ws_client big(web_port);
    std::string head = R"({"id":1,"cmd":")";
    big.send_part(head + std::string(64 * 1024 - head.size(), 'x'), false);
    big.send_part("x\"}", true);
    EXPECT_EQ(big.close_code(), 1009);
    ws_client binary(web_port);
    binary.send(R"({"id":1,"cmd":"ver"})", true);
    EXPECT_EQ(binary.close_code(), 1003);
    EXPECT_TRUE(server.wait_for_log("Closed a WebSocket connection: not a JSON object."));
}

TEST_F(WebTest, ForeignOriginsAreRefused)
{
    server_process server(conf({"web_origins=https://chat.example.org, http://localhost:8080"}));
    start(server);
    for (const std::string& origin :
         {own_origin(), std::string("https://chat.example.org"), std::string("HTTP://localhost:8080"), std::string()}) {
        ws_client ws(web_port, origin);
        EXPECT_FALSE(ws.error_) << origin;
        EXPECT_EQ(ws.ask(1, "ver").substr(0, 6), R"({"id":)") << origin;
    }
    for (const std::string& origin : {own_origin() + ".evil.example", std::string("http://evil.example"),
                                      "https://127.0.0.1:" + std::to_string(web_port), std::string("null"),
                                      std::string("http://chat.example.org")}) {
        ws_client ws(web_port, origin);
        EXPECT_TRUE(ws.error_) << origin;
        EXPECT_EQ(ws.response_.result_int(), 403) << origin;
    }
}

TEST_F(WebTest, ClosingTheWebSocketLogsItsUserOut)
{
    server_process server(conf());
    start(server);
    ws_client ws(web_port);
    EXPECT_EQ(ws.ask(1, "newuser ann pw"), reply(1, "Ok."));
    EXPECT_EQ(ws.ask(2, "login ann pw"), reply(2, "Ok."));
    const auto closed = count_of(server.log(), "info Closed a connection from");
    ws.close();
    ASSERT_TRUE(wait_for_another(server, "info Closed a connection from", closed));
    client again(port);
    EXPECT_EQ(again.exec("login ann pw"), "Ok.");
}

TEST_F(WebTest, AWebSocketThatAnswersNoPingIsClosedAndLoggedOut)
{
    server_process server(conf({"ws_ping=1"}));
    start(server);
    ws_client ws(web_port); // answers pings only while it reads
    EXPECT_EQ(ws.ask(1, "newuser ann pw"), reply(1, "Ok."));
    const auto closed = count_of(server.log(), "info Closed a connection from");
    EXPECT_EQ(ws.ask(2, "login ann pw"), reply(2, "Ok."));
    ASSERT_TRUE(server.wait_for_log("Closed a WebSocket connection that did not answer its pings."));
    ASSERT_TRUE(wait_for_another(server, "info Closed a connection from", closed));
    client again(port);
    EXPECT_EQ(again.exec("login ann pw"), "Ok.");
}

// Pings keep coming while the client answers them, and the connection stays up past the
// time two unanswered ones would take.
TEST_F(WebTest, AWebSocketThatAnswersPingsStaysOpen)
{
    server_process server(conf({"ws_ping=1"}));
    start(server);
    ws_client ws(web_port);
    EXPECT_EQ(ws.ask(1, "newuser ann pw"), reply(1, "Ok."));
    EXPECT_EQ(ws.answer_pings_then_ask(4, R"({"id":2,"cmd":"login ann pw"})"), reply(2, "Ok."));
    EXPECT_EQ(server.log().find("did not answer its pings"), std::string::npos);
}

// https_port: the page and the WebSocket inside TLS, with the TLS port's certificate,
// checked by a client that trusts only the test CA.
TEST_F(WebTest, HttpsServesThePageAndTheWebSocketOverTls)
{
    const test_certificates certificates;
    server_process server(conf({"https_port=auto", certificates.conf_certificate(), certificates.conf_key()}));
    start(server);
    const int https_port = server.port_of("HTTPS");
    asio::io_context io;
    asio::ssl::context tls(asio::ssl::context::tls_client);
    tls.load_verify_file(certificates.ca());
    tls.set_verify_mode(asio::ssl::verify_peer);
    tls.set_verify_callback(asio::ssl::host_name_verification("127.0.0.1"));
    const std::string host = "127.0.0.1:" + std::to_string(https_port);

    asio::ssl::stream<tcp::socket> page(connect_to(io, https_port), tls);
    page.handshake(asio::ssl::stream_base::client);
    http::request<http::empty_body> req(http::verb::get, "/", 11);
    req.set(http::field::host, host);
    http::write(page, req);
    beast::flat_buffer buffer;
    http::response<http::string_body> res;
    http::read(page, buffer, res);
    EXPECT_EQ(res.result(), http::status::ok);
    EXPECT_NE(res["Content-Security-Policy"].find("wss://" + host), std::string::npos) << res;

    websocket::stream<asio::ssl::stream<tcp::socket>> ws(connect_to(io, https_port), tls);
    ws.next_layer().handshake(asio::ssl::stream_base::client);
    ws.set_option(websocket::stream_base::decorator(
        [&host](websocket::request_type& r) { r.set(http::field::origin, "https://" + host); }));
    ws.handshake(host, "/ws");
    ws.write(asio::buffer(std::string(R"({"id":7,"cmd":"newuser ann pw"})")));
    beast::flat_buffer message;
    ws.read(message);
    EXPECT_EQ(beast::buffers_to_string(message.data()), reply(7, "Ok."));
}

// A message begun and never finished ends the connection after frame_timeout, as an
// unfinished TCP frame does, and logs its user out.
TEST_F(WebTest, AnUnfinishedMessageClosesTheWebSocket)
{
    server_process server(conf({"frame_timeout=1"}));
    start(server);
    ws_client ws(web_port);
    EXPECT_EQ(ws.ask(1, "newuser ann pw"), reply(1, "Ok."));
    EXPECT_EQ(ws.ask(2, "login ann pw"), reply(2, "Ok."));
    ws.send_part(R"({"id":3,"cmd":"getst)", false);
    EXPECT_EQ(ws.close_code(), -1); // the socket closed, no close frame
    ASSERT_TRUE(server.wait_for_log("that left a frame unfinished."));
    client again(port);
    std::string answer;
    for (int i = 0; i < 3000 && (answer = again.exec("login ann pw")) != "Ok."; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10)); // the logout follows the close
    EXPECT_EQ(answer, "Ok.");
}

} // namespace
} // namespace qs::test
