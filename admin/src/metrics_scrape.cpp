#include "metrics_scrape.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>
#include <charconv>
#include <chrono>
#include <fstream>
#include <sstream>

#include "admin_error.h"

namespace qs::admin {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

constexpr auto scrape_limit = std::chrono::seconds(5);

int port_number(const std::string& text)
{
    int port = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    return ec == std::errc() && end == text.data() + text.size() && port > 0 && port <= 65535 ? port : 0;
}

std::string where(const metrics_endpoint& at)
{
    const bool v6 = at.host.find(':') != std::string::npos;
    return (v6 ? "[" + at.host + "]" : at.host) + ":" + std::to_string(at.port);
}

} // namespace

metrics_endpoint parse_endpoint(const std::string& text)
{
    const auto colon = text.rfind(':');
    metrics_endpoint at;
    if (colon != std::string::npos && colon > 0) {
        at.host = text.substr(0, colon);
        if (at.host.size() > 2 && at.host.front() == '[' && at.host.back() == ']')
            at.host = at.host.substr(1, at.host.size() - 2);
        at.port = port_number(text.substr(colon + 1));
    }
    if (at.port == 0)
        throw usage_error("'" + text + "' is no HOST:PORT of a metrics port");
    return at;
}

metrics_endpoint endpoint_from_conf(const std::string& path)
{
    metrics_endpoint at{"127.0.0.1", 0};
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("metrics_port=", 0) == 0)
            at.port = line.substr(13) == "auto" ? metrics_endpoint::picked : port_number(line.substr(13));
        else if (line.rfind("metrics_address=", 0) == 0)
            at.host = line.substr(16);
    }
    if (at.host == "0.0.0.0")
        at.host = "127.0.0.1";
    else if (at.host == "::")
        at.host = "::1";
    return at;
}

// One exchange on its own io_context; the stream's deadline covers all of it.
std::string fetch_metrics(const metrics_endpoint& at)
{
    asio::io_context io;
    beast::tcp_stream stream(io);
    http::request<http::empty_body> req(http::verb::get, "/metrics", 11);
    req.set(http::field::host, where(at));
    req.set(http::field::connection, "close");
    beast::flat_buffer buffer;
    http::response<http::string_body> res;
    boost::system::error_code failed;
    const auto read = [&](boost::system::error_code ec, std::size_t) {
        if (ec)
            failed = ec;
        else
            http::async_read(stream, buffer, res, [&](boost::system::error_code e, std::size_t) { failed = e; });
    };
    asio::ip::tcp::resolver resolver(io);
    const auto endpoints = resolver.resolve(at.host, std::to_string(at.port), failed);
    if (!failed) {
        stream.expires_after(scrape_limit);
        stream.async_connect(endpoints, [&](boost::system::error_code ec, const asio::ip::tcp::endpoint&) {
            if (ec)
                failed = ec;
            else
                http::async_write(stream, req, read);
        });
        io.run();
    }
    if (failed)
        throw failure("cannot read the metrics port " + where(at) + ": " + failed.message());
    if (res.result() != http::status::ok)
        throw failure("the metrics port " + where(at) + " answered " + std::to_string(res.result_int()));
    return res.body();
}

std::map<std::string, double> parse_samples(const std::string& text)
{
    std::map<std::string, double> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const auto space = line.rfind(' ');
        if (line.empty() || line[0] == '#' || space == std::string::npos)
            continue;
        try {
            out[line.substr(0, space)] = std::stod(line.substr(space + 1));
        } catch (const std::exception&) { // not a number: not a sample we show
        }
    }
    return out;
}

} // namespace qs::admin
