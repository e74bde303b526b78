#include "http_session.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <optional>
#include <variant>

#include "qs/server/logic/server_metrics.h"
#include "qs/server/logic/web_origin.h"
#include "qs/sync/debug_assert.h"
#include "qs/sync/thread_role.h"
#include "web_policy.h"
#include "web_upgrade.h"

namespace qs {

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
using request = http::request<http::empty_body>;
using response = http::response<http::span_body<const char>>;

constexpr std::size_t longest_header = std::size_t{8} * 1024; // the request line and headers together

void add_policy_headers(response& res, std::string_view host, const char* cache)
{
    for (auto& h : web_policy_headers(host, cache))
        res.set(h.name, h.value);
}

response text_response(http::status status, std::string_view text, unsigned version, std::string_view host)
{
    response res(status, version);
    res.set(http::field::content_type, "text/plain; charset=utf-8");
    res.body() = {text.data(), text.size()};
    res.prepare_payload();
    add_policy_headers(res, host, "no-store");
    return res;
}

std::string_view path_of(std::string_view target)
{
    return target.substr(0, target.find('?'));
}

// One HTTP connection, pinned to the event loop its socket belongs to: every member but
// the const ones is loop-only. Shared by its coroutine and its timer's handler.
class http_session final : public served_connection, public std::enable_shared_from_this<http_session> {
public:
    http_session(asio::ip::tcp::socket socket, asio::ssl::context* tls, const web_site& site, http_hooks hooks)
        : counted_(site.metrics ? std::nullopt : std::optional(tls ? transport::https : transport::http)),
          loop_(*socket.get_executor().target<asio::io_context::executor_type>()), site_(site),
          hooks_(std::move(hooks)), timer_(socket.get_executor()), stream_(make_stream(std::move(socket), tls))
    {
    }

    void start()
    {
        asio::co_spawn(
            loop_, [self = shared_from_this()] { return self->run(); }, asio::detached);
    }

    void shutdown() override
    {
        asio::post(loop_, [self = shared_from_this()] {
            self->assert_on_loop();
            self->stopping_ = true;
            self->cut();
        });
    }

private:
    using stream_type = decltype(web_upgrade::stream);

    static stream_type make_stream(asio::ip::tcp::socket socket, asio::ssl::context* tls)
    {
        if (tls != nullptr)
            return std::make_unique<web_upgrade::tls_stream>(std::move(socket), *tls);
        return socket;
    }

    void assert_on_loop() const ASSERT_CAPABILITY(loop_thread_) { QS_ASSERT(loop_.running_in_this_thread()); }

    asio::ip::tcp::socket& tcp() REQUIRES(loop_thread_)
    {
        if (auto* tls = std::get_if<std::unique_ptr<web_upgrade::tls_stream>>(&stream_))
            return (*tls)->next_layer();
        return std::get<asio::ip::tcp::socket>(stream_);
    }

    // Ends what waits on the socket; the coroutine then ends.
    void cut() REQUIRES(loop_thread_)
    {
        error_code ignored;
        tcp().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        tcp().cancel(ignored);
    }

    // Each exchange (the TLS handshake; waiting for a request, reading and answering it)
    // must end within the limit, or the socket is cut.
    void watch() REQUIRES(loop_thread_)
    {
        const unsigned exchange = ++exchange_;
        timer_.expires_after(site_.exchange_limit);
        timer_.async_wait([self = shared_from_this(), exchange](error_code ec) {
            self->assert_on_loop();
            if (!ec && self->exchange_ == exchange && self->watching_)
                self->cut();
        });
        watching_ = true;
    }
    void unwatch() REQUIRES(loop_thread_)
    {
        watching_ = false;
        timer_.cancel();
    }

    asio::awaitable<void> run()
    {
        assert_on_loop();
        auto self = shared_from_this();
        if (auto* tls = std::get_if<std::unique_ptr<web_upgrade::tls_stream>>(&stream_)) {
            watch();
            error_code ec;
            co_await (*tls)->async_handshake(asio::ssl::stream_base::server,
                                             asio::redirect_error(asio::use_awaitable, ec));
            unwatch();
            if (!ec)
                co_await serve(**tls, true);
        } else {
            co_await serve(std::get<asio::ip::tcp::socket>(stream_), false);
        }
        unwatch();
        if (!upgraded_) {
            cut();
            error_code ignored;
            tcp().close(ignored);
        }
        hooks_.closed(this);
    }

    template <class Stream>
    asio::awaitable<void> serve(Stream& stream, bool tls) REQUIRES(loop_thread_)
    {
        beast::flat_buffer buffer; // what came past one request stays for the next
        while (!stopping_) {
            http::request_parser<http::empty_body> parser;
            parser.header_limit(longest_header);
            error_code ec;
            watch();
            co_await http::async_read(stream, buffer, parser, asio::redirect_error(asio::use_awaitable, ec));
            if (ec) {
                if (malformed(ec, parser))
                    co_await answer(stream, refusal(ec, parser), false);
                co_return;
            }
            request& req = parser.get();
            if (path_of(req.target()) == "/ws" && beast::websocket::is_upgrade(req) && !site_.metrics) {
                if (may_upgrade(req, tls)) {
                    unwatch();
                    upgraded_ = true;
                    hooks_.upgrade(this, web_upgrade_ptr(new web_upgrade{std::move(stream_), parser.release()}));
                    co_return;
                }
                co_await answer(
                    stream, text_response(http::status::forbidden, "Forbidden\n", req.version(), host_of(req)), false);
                co_return;
            }
            const bool keep = req.keep_alive();
            if (!co_await answer(stream, respond(req), keep) || !keep)
                co_return;
        }
    }

    // Writes res; false when it could not.
    template <class Stream>
    asio::awaitable<bool> answer(Stream& stream, response res, bool keep_alive) REQUIRES(loop_thread_)
    {
        res.keep_alive(keep_alive);
        error_code ec;
        co_await http::async_write(stream, res, asio::redirect_error(asio::use_awaitable, ec));
        unwatch();
        co_return !ec;
    }

    static std::string_view host_of(const request& req) { return req[http::field::host]; }

    // No Origin (not a browser), the page's own, or one of web_origins.
    bool may_upgrade(const request& req, bool tls) const
    {
        const auto origin = req.find(http::field::origin);
        return origin == req.end() || origin_allowed(origin->value(), tls, host_of(req), site_.origins);
    }

    // A request Beast could not take, rather than a socket that failed or ended.
    static bool malformed(const error_code& ec, const http::request_parser<http::empty_body>& parser)
    {
        return parser.got_some() && ec.category() == make_error_code(http::error::bad_target).category() &&
               ec != http::error::end_of_stream && ec != http::error::partial_message;
    }

    response refusal(const error_code& ec, http::request_parser<http::empty_body>& parser) const
    {
        const unsigned version = parser.is_header_done() ? parser.get().version() : 11;
        if (ec == http::error::header_limit)
            return text_response(http::status::request_header_fields_too_large, "Request headers too large\n", version,
                                 "");
        if (ec == http::error::unexpected_body)
            return text_response(http::status::payload_too_large, "No request bodies here\n", version, "");
        return text_response(http::status::bad_request, "Bad request\n", version, "");
    }

    response respond(const request& req) REQUIRES(loop_thread_)
    {
        const std::string_view host = host_of(req);
        if (req.method() != http::verb::get && req.method() != http::verb::head) {
            response res = text_response(http::status::method_not_allowed, "Method not allowed\n", req.version(), host);
            res.set(http::field::allow, "GET, HEAD");
            return head_only(req, std::move(res));
        }
        if (path_of(req.target()) == "/healthz") {
            const bool up = site_.state->database_available();
            return head_only(req, text_response(up ? http::status::ok : http::status::service_unavailable,
                                                up ? "ok\n" : "database unavailable\n", req.version(), host));
        }
        if (site_.metrics)
            return head_only(req, metrics_response(req));
        if (path_of(req.target()) == "/ws") {
            response res = text_response(http::status::upgrade_required, "WebSocket only\n", req.version(), host);
            res.set(http::field::upgrade, "websocket");
            return head_only(req, std::move(res));
        }
        const web_files::file* f = site_.files->find(req.target());
        if (f == nullptr)
            return head_only(req, text_response(http::status::not_found, "Not found\n", req.version(), host));
        response res(http::status::ok, req.version());
        res.set(http::field::content_type, f->type);
        res.body() = {f->body.data(), f->body.size()};
        res.prepare_payload();
        add_policy_headers(res, host, "no-cache");
        return head_only(req, std::move(res));
    }

    // The metrics port: /metrics, and nothing else. The text lives in the session until
    // the next request.
    response metrics_response(const request& req) REQUIRES(loop_thread_)
    {
        if (path_of(req.target()) != "/metrics")
            return text_response(http::status::not_found, "Not found\n", req.version(), host_of(req));
        metrics_text_ = site_.metrics();
        response res = text_response(http::status::ok, metrics_text_, req.version(), host_of(req));
        res.set(http::field::content_type, "text/plain; version=0.0.4; charset=utf-8");
        return res;
    }

    // HEAD: the same headers, Content-Length included, and no body.
    static response head_only(const request& req, response res)
    {
        if (req.method() == http::verb::head)
            res.body() = {};
        return res;
    }

    const connection_count counted_;                // a web connection while it lives; not a scrape
    [[no_unique_address]] thread_role loop_thread_; // held by code running on loop_
    const asio::io_context::executor_type loop_;
    const web_site& site_; // outlives every session
    const http_hooks hooks_;
    asio::steady_timer timer_ GUARDED_BY(loop_thread_);
    stream_type stream_ GUARDED_BY(loop_thread_);
    unsigned exchange_ GUARDED_BY(loop_thread_) = 0; // the exchange the timer watches
    bool watching_ GUARDED_BY(loop_thread_) = false;
    bool stopping_ GUARDED_BY(loop_thread_) = false;
    bool upgraded_ GUARDED_BY(loop_thread_) = false;    // the stream went to a client connection
    std::string metrics_text_ GUARDED_BY(loop_thread_); // the body of the last /metrics answer
};

} // namespace

std::shared_ptr<served_connection> start_http_session(asio::ip::tcp::socket socket, asio::ssl::context* tls,
                                                      const web_site& site, http_hooks hooks)
{
    auto session = std::make_shared<http_session>(std::move(socket), tls, site, std::move(hooks));
    session->start();
    return session;
}

} // namespace qs
