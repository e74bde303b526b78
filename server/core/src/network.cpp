#include "qs/server/core/network.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/socket_base.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <atomic>
#include <condition_variable>
#include <sys/resource.h>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "qs/net/frame.h"
#include "qs/server/logic/event_loop_thread.h"
#include "qs/server/logic/log.h"
#include "qs/server/logic/password_work.h"
#include "qs/server/logic/settings.h"
#include "qs/sync/debug_assert.h"
#include "qs/sync/mutex.h"
#include "qs/sync/thread_role.h"
#include "client_connection.h"
#include "http_session.h"
#include "metrics_page.h"
#include "tls_context.h"
#include "web_files.h"
#include "worker_pool.h"

namespace qs {

namespace {

// The open-file limit goes to its hard limit: every connection is a descriptor.
void raise_descriptor_limit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    ::getrlimit(RLIMIT_NOFILE, &limit);
    log_line("Open files allowed: " + std::to_string(limit.rlim_cur) + ".");
}

bool out_of_descriptors(const error_code& ec)
{
    return ec == asio::error::no_descriptors || ec.value() == ENFILE;
}

// Binds and listens on port, logging what it does and how it went; why says which
// port failed.
bool listen_on(asio::ip::tcp::acceptor& acceptor, const std::string& address, int port, int backlog,
               const std::string& doing, std::string& why)
{
    log_text(doing);
    try {
        const auto number = static_cast<unsigned short>(port == settings::any_port ? 0 : port);
        const asio::ip::tcp::endpoint at(asio::ip::make_address(address), number);
        acceptor.open(at.protocol());
        acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true));
        acceptor.bind(at);
        acceptor.listen(backlog > 0 ? backlog : asio::socket_base::max_listen_connections);
    } catch (const std::exception&) {
        log_line("Failed.");
        why = port == settings::any_port
                  ? "cannot listen on " + address + " (no port left?)"
                  : "cannot listen on " + address + " port " + std::to_string(port) + " (is it in use?)";
        return false;
    }
    log_line("Ok.");
    return true;
}

} // namespace

// One io_context run by one thread, the only one to touch the loop-only members of the
// connections it holds. The thread is main's to start and join.
struct event_loop {
    asio::io_context io{1};
    asio::executor_work_guard<asio::io_context::executor_type> keep_running = asio::make_work_guard(io);
    // Makes the loop's timer service at start: connections make their timers on first
    // use, which may come when the process is out of descriptors.
    asio::steady_timer timers_ready{io};
    std::thread thread;
    // The tick that measures how late the loop runs; loop-only but lag.
    asio::steady_timer lag_timer{io};
    bool lag_stopped = false;
    std::atomic<std::int64_t> lag_us{0}; // how late the last tick ran; any thread reads
};

namespace {

constexpr auto lag_tick = std::chrono::milliseconds(500);

// On the loop's thread: the next tick, and how late this one ran.
void watch_lag(event_loop& loop)
{
    const auto due = std::chrono::steady_clock::now() + lag_tick;
    loop.lag_timer.expires_at(due);
    loop.lag_timer.async_wait([&loop, due](const error_code& ec) {
        if (ec || loop.lag_stopped)
            return;
        const auto late = std::chrono::steady_clock::now() - due;
        loop.lag_us.store(std::chrono::duration_cast<std::chrono::microseconds>(late).count(),
                          std::memory_order_relaxed);
        watch_lag(loop);
    });
}

} // namespace

struct network::impl {
    explicit impl(server_state& s)
        : state(s), config(s.config()), workers(static_cast<std::size_t>(std::max(1, config.db_connections))),
          hashing(password_work::pool_threads), loops(static_cast<std::size_t>(std::max(1, config.io_threads))),
          acceptor(loops[0].io), tls_acceptor(loops[0].io), http_acceptor(loops[0].io), https_acceptor(loops[0].io),
          metrics_acceptor(loops[0].io), connection_parts{
                                             workers, hashing, {}, [this](client_connection* done) { forget(done); }}
    {
    }

    // Where the accepting side's code runs: on loops[0] once accepting began, on main
    // before. Aborts elsewhere in Debug builds; holds accept_thread for the analysis.
    void assert_accepting() ASSERT_CAPABILITY(accept_thread)
    {
        QS_ASSERT(loops[0].io.get_executor().running_in_this_thread() || !accepting);
    }
    bool start_loops(std::string& why);
    bool listen(std::string& why) REQUIRES(accept_thread);
    bool listen_web(std::string& why) REQUIRES(accept_thread);
    bool listen_metrics(std::string& why) REQUIRES(accept_thread);
    asio::awaitable<void> accept_loop(asio::ip::tcp::acceptor& from, asio::ssl::context* context, const web_site* web);
    asio::io_context& next_loop() REQUIRES(accept_thread);
    void adopt(asio::ip::tcp::socket socket, asio::io_context& loop, asio::ssl::context* context, const web_site* web);
    void upgrade(served_connection* from, web_upgrade_ptr up, asio::io_context& loop, transport kind);
    std::string metrics_text();
    void stop_lag_ticks();
    void forget(served_connection* c);
    void close_acceptors();

    server_state& state;                             // thread-safe itself
    const settings& config;                          // the state's
    worker_pool workers;                             // thread-safe itself: commands that may wait on the database
    asio::thread_pool hashing;                       // thread-safe itself: their Argon2 work, apart from the workers
    std::vector<event_loop> loops;                   // fixed at construction; the first also accepts
    [[no_unique_address]] thread_role accept_thread; // held on loops[0], and by start() before the loops run
    asio::ip::tcp::acceptor acceptor GUARDED_BY(accept_thread);
    asio::ip::tcp::acceptor tls_acceptor GUARDED_BY(accept_thread);     // open when tls_port is set
    asio::ip::tcp::acceptor http_acceptor GUARDED_BY(accept_thread);    // open when http_port is set
    asio::ip::tcp::acceptor https_acceptor GUARDED_BY(accept_thread);   // open when https_port is set
    asio::ip::tcp::acceptor metrics_acceptor GUARDED_BY(accept_thread); // open when metrics_port is set
    std::size_t next GUARDED_BY(accept_thread) = 0;                     // the loop the next connection goes to
    // Set by start() before accepting begins, read-only then.
    bool accepting = false;
    std::unique_ptr<asio::ssl::context> tls;
    client_connection::shared_parts connection_parts; // limits set by start()
    listening_ports bound;                            // set by start() on main before accepting begins; main's to read
    web_site site;                                    // the page, when http_port or https_port is set
    web_site metrics_site;                            // /metrics, when metrics_port is set

    // Taken by every loop (adopt on the first, forget on each connection's own) and by stop().
    mutex lock;
    std::condition_variable changed; // the last connection went, or the listening sockets closed
    // Client connections and HTTP connections.
    std::unordered_map<served_connection*, std::shared_ptr<served_connection>> connections GUARDED_BY(lock);
    bool stopping GUARDED_BY(lock) = false;
    bool listening GUARDED_BY(lock) = true; // until stop has closed the listening sockets
    bool refusing GUARDED_BY(lock) = false; // over max_connections: said once per burst
};

network::network(server_state& state) : impl_(std::make_unique<impl>(state)) {}

// What stop() may throw (a failed join) ends the process here as anywhere.
network::~network() // NOLINT(bugprone-exception-escape)
{
    stop();
}

// One per listening socket; context is null on the plain ports; web on the HTTP ones.
asio::awaitable<void> network::impl::accept_loop(asio::ip::tcp::acceptor& from, asio::ssl::context* context,
                                                 const web_site* web)
{
    assert_accepting();
    bool paused = false;
    for (;;) {
        error_code ec;
        asio::io_context& loop = next_loop();
        auto socket = co_await from.async_accept(loop, asio::redirect_error(asio::use_awaitable, ec));
        if (ec == asio::error::operation_aborted || !from.is_open())
            break;
        if (out_of_descriptors(ec)) { // pause instead of spinning; users go on being served
            if (!paused)
                log_warning("Out of file descriptors: accepting pauses.");
            paused = true;
            asio::steady_timer wait(from.get_executor(), std::chrono::milliseconds(100));
            co_await wait.async_wait(asio::redirect_error(asio::use_awaitable, ec));
            continue;
        }
        paused = false;
        if (!ec)
            adopt(std::move(socket), loop, context, web);
    }
    if (context != nullptr || web != nullptr)
        co_return;
    log_line("Listen-proc stopped.");
}

// Connections go round the event loops in turn.
asio::io_context& network::impl::next_loop()
{
    assert_accepting();
    asio::io_context& loop = loops[next].io;
    next = (next + 1) % loops.size();
    return loop;
}

// Every port counts against max_connections together.
void network::impl::adopt(asio::ip::tcp::socket socket, asio::io_context& loop, asio::ssl::context* context,
                          const web_site* web)
{
    qs::lock_guard guard(lock);
    if (stopping)
        return; // closed at once
    if (connections.size() >= static_cast<std::size_t>(config.max_connections)) {
        if (!refusing)
            log_warning("Too many connections (" + std::to_string(connections.size()) + "): new ones are closed.");
        refusing = true;
        return;
    }
    refusing = false;
    error_code ignored;
    socket.set_option(asio::ip::tcp::no_delay(true), ignored);
    if (web != nullptr) {
        const transport kind = context ? transport::wss : transport::ws;
        http_hooks hooks{[this, &loop, kind](served_connection* from, web_upgrade_ptr up) {
                             upgrade(from, std::move(up), loop, kind);
                         },
                         [this](served_connection* done) { forget(done); }};
        auto session = start_http_session(std::move(socket), context, *web, std::move(hooks));
        connections.emplace(session.get(), std::move(session));
        return;
    }
    auto stream = context ? connection_stream(std::move(socket), *context) : connection_stream(std::move(socket));
    auto c = std::make_shared<client_connection>(std::move(stream), context ? transport::tls : transport::tcp, loop,
                                                 state, connection_parts);
    connections.emplace(c.get(), c);
    c->start();
}

// On the HTTP session's loop: a client connection takes its place (and its count).
void network::impl::upgrade(served_connection* from, web_upgrade_ptr up, asio::io_context& loop, transport kind)
{
    qs::lock_guard guard(lock);
    connections.erase(from);
    if (stopping)
        return; // closed at once
    auto stream = connection_stream(
        web_stream(std::move(up), std::chrono::seconds(config.ws_ping), connection_parts.bounds.unfinished_frame));
    auto c = std::make_shared<client_connection>(std::move(stream), kind, loop, state, connection_parts);
    connections.emplace(c.get(), c);
    c->start();
}

// On the first loop, never beside an accept in flight; returns once both are closed.
void network::impl::close_acceptors()
{
    asio::post(loops[0].io, [this] {
        assert_accepting();
        error_code ignored;
        acceptor.close(ignored);
        tls_acceptor.close(ignored);
        http_acceptor.close(ignored);
        https_acceptor.close(ignored);
        metrics_acceptor.close(ignored);
        qs::lock_guard guard(lock);
        listening = false;
        changed.notify_all();
    });
    qs::unique_lock guard(lock);
    while (listening)
        guard.wait(changed);
}

void network::impl::forget(served_connection* c)
{
    qs::lock_guard guard(lock);
    connections.erase(c);
    if (connections.empty())
        changed.notify_all();
}

// With tls_port or https_port set the certificate first, and the plain port last: nothing
// listens when the certificate or the page cannot be loaded, and once the plain port
// accepts, so do the others.
bool network::impl::listen(std::string& why)
{
    assert_accepting();
    if (config.tls_port != 0 || config.https_port != 0) {
        log_text("Loading the TLS certificate...");
        tls = load_tls_context(config.tls_certificate, config.tls_private_key, why);
        log_line(tls ? "Ok." : "Failed: " + why + ".");
        if (!tls)
            return false;
    }
    if (config.tls_port != 0 && !listen_on(tls_acceptor, config.bind_address, config.tls_port, config.backlog,
                                           "initializing TLS socket...", why))
        return false;
    return listen_web(why) && listen_metrics(why) &&
           listen_on(acceptor, config.bind_address, config.port, config.backlog, "initializing socket...", why);
}

// The metrics port, on metrics_address, when it is set.
bool network::impl::listen_metrics(std::string& why)
{
    assert_accepting();
    if (config.metrics_port == 0)
        return true;
    metrics_site.exchange_limit = std::chrono::seconds(config.frame_timeout);
    metrics_site.state = &state;
    metrics_site.metrics = [this] { return metrics_text(); };
    return listen_on(metrics_acceptor, config.metrics_address, config.metrics_port, config.backlog,
                     "initializing metrics socket...", why);
}

namespace {

// The port an open acceptor listens on; 0 for one that is closed.
int bound_port(const asio::ip::tcp::acceptor& a)
{
    error_code ec;
    const auto at = a.is_open() ? a.local_endpoint(ec) : asio::ip::tcp::endpoint();
    return ec ? 0 : at.port();
}

} // namespace

// On the loop that serves the scrape.
std::string network::impl::metrics_text()
{
    std::vector<std::chrono::microseconds> lags;
    for (const auto& loop : loops)
        lags.emplace_back(loop.lag_us.load(std::memory_order_relaxed));
    return metrics_page(state, lags);
}

// Each loop's tick ends on its own thread; a tick already due sees lag_stopped.
void network::impl::stop_lag_ticks()
{
    for (auto& loop : loops)
        asio::post(loop.io, [&loop] {
            loop.lag_stopped = true;
            loop.lag_timer.cancel();
        });
}

// The page's files, then the HTTP and HTTPS ports, when either is set.
bool network::impl::listen_web(std::string& why)
{
    assert_accepting();
    if (config.http_port == 0 && config.https_port == 0)
        return true;
    const std::string root = config.web_root.empty() ? default_web_root(QS_WEB_SOURCE_DIR) : config.web_root;
    log_text("Loading the web page from " + root + "...");
    site.files = web_files::load(root, why);
    if (!site.files) {
        log_line("Failed: " + why + ".");
        return false;
    }
    log_line("Ok.");
    site.origins = config.web_origins;
    site.exchange_limit = std::chrono::seconds(config.frame_timeout);
    site.state = &state;
    return (config.http_port == 0 || listen_on(http_acceptor, config.bind_address, config.http_port, config.backlog,
                                               "initializing HTTP socket...", why)) &&
           (config.https_port == 0 || listen_on(https_acceptor, config.bind_address, config.https_port, config.backlog,
                                                "initializing HTTPS socket...", why));
}

listening_ports network::ports() const
{
    return impl_->bound;
}

// The loops' threads first: once the log says "Listening...", every loop runs.
bool network::start(std::string& why)
{
    impl& n = *impl_;
    log_text("Starting socket environment...");
    if (!n.start_loops(why)) {
        log_line("Failed: " + why + ".");
        return false;
    }
    log_line("Ok.");
    n.assert_accepting(); // nothing accepts yet
    if (!n.listen(why))
        return false;
    n.bound = {bound_port(n.acceptor), bound_port(n.tls_acceptor), bound_port(n.http_acceptor),
               bound_port(n.https_acceptor), bound_port(n.metrics_acceptor)};
    log_line("Listening...");
    raise_descriptor_limit();
    n.connection_parts.bounds.longest_request = static_cast<std::size_t>(n.config.buff_size) - frame_overhead;
    n.connection_parts.bounds.unfinished_frame = std::chrono::seconds(n.config.frame_timeout);
    n.connection_parts.bounds.worker_deadline = std::chrono::seconds(n.config.db_timeout) + std::chrono::seconds(1);
    asio::io_context& first = n.loops[0].io;
    n.accepting = true;
    asio::co_spawn(
        first,
        [&n] {
            n.assert_accepting();
            return n.accept_loop(n.acceptor, nullptr, nullptr);
        },
        asio::detached);
    const auto accept_on = [&n, &first](asio::ip::tcp::acceptor& from, asio::ssl::context* tls, const web_site* web) {
        asio::co_spawn(
            first,
            [&n, &from, tls, web] {
                n.assert_accepting();
                return n.accept_loop(from, tls, web);
            },
            asio::detached);
    };
    if (n.config.tls_port != 0)
        accept_on(n.tls_acceptor, n.tls.get(), nullptr);
    if (n.config.http_port != 0)
        accept_on(n.http_acceptor, nullptr, &n.site);
    if (n.config.https_port != 0)
        accept_on(n.https_acceptor, n.tls.get(), &n.site);
    if (n.config.metrics_port != 0)
        accept_on(n.metrics_acceptor, nullptr, &n.metrics_site);
    return true;
}

// A thread for every loop; false with why when the system refuses one. stop() ends
// those that started.
bool network::impl::start_loops(std::string& why)
{
    try {
        for (auto& loop : loops) {
            asio::post(loop.io, [&loop] { watch_lag(loop); });
            loop.thread = std::thread([&loop] {
                mark_event_loop_thread();
                loop.io.run();
            });
        }
    } catch (const std::system_error& e) {
        why = std::string("cannot start the event-loop threads (") + e.what() + ")";
        return false;
    }
    return true;
}

// Nothing is accepted once the listening sockets are closed; once the connections are
// gone the loops run out of work and their threads end, with every handler run: none is
// left holding a socket, so stop gives back every descriptor it can before the threads end.
void network::stop()
{
    impl& n = *impl_;
    if (!n.loops[0].thread.joinable()) // never started, or stopped already
        return;
    {
        qs::lock_guard guard(n.lock);
        n.stopping = true;
    }
    n.close_acceptors();
    qs::unique_lock guard(n.lock);
    for (auto& [raw, c] : n.connections)
        c->shutdown();
    while (!n.connections.empty())
        guard.wait(n.changed);
    guard.unlock();
    n.hashing.join();
    n.workers.join();
    n.stop_lag_ticks();
    for (auto& loop : n.loops)
        loop.keep_running.reset();
    for (auto& loop : n.loops)
        if (loop.thread.joinable())
            loop.thread.join();
}

} // namespace qs
