// The metrics port of a real qsserver: the Prometheus text format (checked by promtool
// when it is installed), and figures that follow what clients do.
#include <gtest/gtest.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "program_run.h"
#include "qs/net/frame.h"
#include "server_process.h"
#include "store_fixture.h"

namespace qs::test {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

http::response<http::string_body> get(int port, const std::string& target)
{
    asio::io_context io;
    tcp::socket s(io);
    s.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)));
    http::request<http::empty_body> req(http::verb::get, target, 11);
    req.set(http::field::host, "127.0.0.1");
    http::write(s, req);
    beast::flat_buffer buffer;
    http::response<http::string_body> res;
    http::read(s, buffer, res);
    return res;
}

// The samples of a scrape by series ("name" or "name{labels}").
std::map<std::string, double> samples(const std::string& text)
{
    std::map<std::string, double> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const auto space = line.rfind(' ');
        out[line.substr(0, space)] = std::stod(line.substr(space + 1));
    }
    return out;
}

// promtool's verdict on text; "" when it passes or is not installed.
std::string promtool_complaints(const std::string& text, const std::string& dir)
{
    if (!std::filesystem::exists("/usr/bin/promtool"))
        return "";
    const std::string file = dir + "/scrape.txt";
    std::ofstream(file) << text;
    const std::string out = dir + "/promtool.out";
    const int status = std::system(("/usr/bin/promtool check metrics < " + file + " > " + out + " 2>&1").c_str());
    return status == 0 ? "" : read_file(out);
}

class MetricsTest : public StoreTest {
protected:
    std::map<std::string, double> scrape()
    {
        const auto res = get(metrics_port(), "/metrics");
        EXPECT_EQ(res.result_int(), 200);
        EXPECT_EQ(res[http::field::content_type], "text/plain; version=0.0.4; charset=utf-8");
        return samples(res.body());
    }

    int metrics_port() const { return server.port_of("metrics"); }

    server_process server{{"metrics_port=auto", "io_threads=2"}};
};

TEST_F(MetricsTest, TheFormatPassesPromtoolAndTheFiguresFollowWhatClientsDo)
{
    server.start();
    const int port = server.port();
    const auto res = get(metrics_port(), "/metrics");
    EXPECT_EQ(promtool_complaints(res.body(), server.dir()), "");
    auto before = samples(res.body());
    EXPECT_EQ(before["qs_build_info{version=\"0.1\"}"], 1);
    EXPECT_EQ(before.count("qs_event_loop_lag_seconds{loop=\"1\"}"), 1u);
    EXPECT_EQ(before["qs_database_unavailable"], 0);

    auto ann = bounded_client(port);
    auto bob = bounded_client(port);
    ASSERT_EQ(ask(*ann, "newuser ann pw"), "Ok.");
    ASSERT_EQ(ask(*ann, "newuser bob pw"), "Ok.");
    ASSERT_NE(ask(*bob, "login bob wrong"), "Ok.");
    ASSERT_EQ(ask(*ann, "login ann pw"), "Ok.");
    ASSERT_EQ(ask(*bob, "login bob pw"), "Ok.");
    ASSERT_EQ(ask(*ann, "sendmessage bob hello"), "Ok."); // into bob's session
    bob->send(encode_frame(7, "select CUSMSG"));
    ASSERT_EQ(ask(*ann, "ver"), "0.1");
    ASSERT_EQ(ask(*bob, "ver"), "0.1"); // the select is parked

    auto during = scrape();
    EXPECT_EQ(during["qs_connections{transport=\"tcp\"}"], 2);
    EXPECT_EQ(during["qs_users_logged_in"], 2);
    EXPECT_EQ(during["qs_selects_parked"], 1);
    EXPECT_EQ(during["qs_messages_delivered_total"], 1);
    EXPECT_EQ(during["qs_login_failures_total"], 1);
    EXPECT_EQ(during["qs_commands_total{command=\"login\",result=\"ok\"}"], 2);
    EXPECT_EQ(during["qs_commands_total{command=\"login\",result=\"refused\"}"], 1);
    EXPECT_EQ(during["qs_commands_total{command=\"sendmessage\",result=\"ok\"}"], 1);

    bob.reset();
    ASSERT_TRUE(server.wait_for_log("Closed a connection from 127.0.0.1 (bob)."));
    ASSERT_EQ(ask(*ann, "sendmessage bob later"), "Ok."); // stored: bob is gone
    EXPECT_NE(ask(*ann, "sendmessage nobody hi"), "Ok."); // no such user
    EXPECT_NE(ask(*ann, "sendmessage bob a|b"), "Ok.");   // a '|'
    EXPECT_EQ(ask(*ann, "frobnicate"), "Unknown command.");
    auto after = scrape();
    EXPECT_EQ(after["qs_messages_stored_total"], 1) << server.log_texts();
    EXPECT_EQ(after["qs_messages_refused_total"], 2);
    EXPECT_EQ(after["qs_commands_total{command=\"sendmessage\",result=\"refused\"}"], 2);
    EXPECT_EQ(after["qs_commands_total{command=\"unknown\",result=\"refused\"}"], 1);
    EXPECT_EQ(after["qs_users_logged_in"], 1);
    EXPECT_EQ(after["qs_selects_parked"], 0);
    EXPECT_EQ(after["qs_connections{transport=\"tcp\"}"], 1);
}

// The metrics port serves /metrics and /healthz only; the page's port has no /metrics.
TEST_F(MetricsTest, OnlyTheMetricsPortServesMetrics)
{
    server_process web({"metrics_port=auto", "http_port=auto"});
    web.start();
    const int metrics_port = web.port_of("metrics"), web_port = web.port_of("HTTP");
    EXPECT_EQ(samples(get(metrics_port, "/metrics").body())["qs_connections{transport=\"http\"}"], 0)
        << "a scrape is no web connection";
    EXPECT_EQ(get(metrics_port, "/").result_int(), 404);
    EXPECT_EQ(get(metrics_port, "/ws").result_int(), 404);
    EXPECT_EQ(get(metrics_port, "/healthz").body(), "ok\n");
    EXPECT_EQ(get(web_port, "/metrics").result_int(), 404);
}

// qsadmin stats: the live figures from the port qsserver.conf names, then the database's
// totals; a port it cannot read still shows the totals, and fails.
TEST_F(MetricsTest, QsadminStatsShowsTheLiveFiguresAndTheDatabaseTotals)
{
    server.start();
    auto ann = bounded_client(server.port());
    ASSERT_EQ(ask(*ann, "newuser ann pw"), "Ok.");
    ASSERT_EQ(ask(*ann, "login ann pw"), "Ok.");
    ASSERT_EQ(ask(*ann, "sendmessage ann hi"), "Ok.");

    temp_dir admin; // qsadmin's own folder: its qsserver.conf names the port the server got
    std::ofstream(admin.path() + "/qsserver.conf") << "metrics_port=" << metrics_port() << "\n";
    const auto live = run_program("/bin/sh", {"-c", "cd '" + admin.path() + "' && exec " QS_ADMIN_PATH " stats"});
    EXPECT_EQ(live.status, 0) << live.err;
    EXPECT_NE(live.out.find("users logged in:  1\n"), std::string::npos) << live.out;
    EXPECT_NE(live.out.find("messages:         1 delivered, 0 stored, 0 refused\n"), std::string::npos) << live.out;
    EXPECT_NE(live.out.find("busiest commands: "), std::string::npos) << live.out;
    EXPECT_NE(live.out.find("users: 1, groups: 0\n"), std::string::npos) << live.out;

    const refusing_port refusing;
    const int closed = refusing.port();
    const auto unread = run_program(QS_ADMIN_PATH, {"stats", "127.0.0.1:" + std::to_string(closed)});
    EXPECT_EQ(unread.status, 1);
    EXPECT_NE(unread.err.find("cannot read the metrics port 127.0.0.1:" + std::to_string(closed)), std::string::npos)
        << unread.err;
    EXPECT_NE(unread.out.find("users: 1, groups: 0\n"), std::string::npos) << unread.out;
}

} // namespace
} // namespace qs::test
