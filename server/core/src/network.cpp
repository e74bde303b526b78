#include "qs/server/network.h"

#include <condition_variable>
#include <mutex>
#include <sys/resource.h>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "qs/net/frame.h"
#include "qs/server/event_loop_thread.h"
#include "qs/server/log.h"
#include "qs/server/password_work.h"
#include "qs/server/settings.h"
#include "client_connection.h"
#include "tls_context.h"
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

bool out_of_descriptors(const asio::error_code& ec)
{
    return ec == asio::error::no_descriptors || ec.value() == ENFILE;
}

// Binds and listens on port, logging what it does and how it went; why says which
// port failed.
bool listen_on(asio::ip::tcp::acceptor& acceptor, int port, const std::string& doing, std::string& why)
{
    log_text(doing);
    try {
        const asio::ip::tcp::endpoint at(asio::ip::make_address(config.bind_address), static_cast<unsigned short>(port));
        acceptor.open(at.protocol());
        acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true));
        acceptor.bind(at);
        acceptor.listen(config.backlog > 0 ? config.backlog : asio::socket_base::max_listen_connections);
    } catch (const std::exception&) {
        log_line("Failed.");
        why = "cannot listen on " + config.bind_address + " port " + std::to_string(port) + " (is it in use?)";
        return false;
    }
    log_line("Ok.");
    return true;
}

} // namespace

// One io_context run by one thread; the connections it holds are used on that thread only.
struct event_loop {
    asio::io_context io{1};
    asio::executor_work_guard<asio::io_context::executor_type> keep_running = asio::make_work_guard(io);
    // Makes the loop's timer service at start: connections make their timers on first
    // use, which may come when the process is out of descriptors.
    asio::steady_timer timers_ready{io};
    std::thread thread;
};

struct network::impl {
    explicit impl(server_state& s)
        : state(s), workers(static_cast<std::size_t>(std::max(1, config.db_connections))),
          hashing(password_work::pool_threads),
          loops(static_cast<std::size_t>(std::max(1, config.io_threads))), acceptor(loops[0].io),
          tls_acceptor(loops[0].io)
    {
    }

    bool start_loops(std::string& why);
    bool listen(std::string& why);
    asio::awaitable<void> accept_loop(asio::ip::tcp::acceptor& from, asio::ssl::context* tls);
    asio::io_context& next_loop();
    void adopt(asio::ip::tcp::socket socket, asio::io_context& loop, asio::ssl::context* tls);
    void forget(client_connection* c);
    void close_acceptors();

    server_state& state;
    worker_pool workers;            // commands that may wait on the database
    asio::thread_pool hashing;      // their Argon2 work, apart from the workers
    std::vector<event_loop> loops;  // fixed at construction; the first also accepts
    asio::ip::tcp::acceptor acceptor;         // on loops[0], like everything below it
    asio::ip::tcp::acceptor tls_acceptor;     // open when tls_port is set
    std::unique_ptr<asio::ssl::context> tls;  // made by start(), read-only while the loops run
    std::size_t next = 0;                     // the loop the next connection goes to
    client_connection::limits limits{};

    std::mutex lock;  // guards connections, stopping and listening
    std::condition_variable changed;  // the last connection went, or the listening sockets closed
    std::unordered_map<client_connection*, std::shared_ptr<client_connection>> connections;
    bool stopping = false;
    bool listening = true;  // until stop has closed the listening sockets
    bool refusing = false;  // over max_connections: said once per burst
};

network::network(server_state& state) : impl_(std::make_unique<impl>(state)) {}

network::~network()
{
    stop();
}

// One per listening socket; tls is null on the plain port.
asio::awaitable<void> network::impl::accept_loop(asio::ip::tcp::acceptor& from, asio::ssl::context* tls)
{
    bool paused = false;
    for (;;) {
        asio::error_code ec;
        asio::io_context& loop = next_loop();
        auto socket = co_await from.async_accept(loop, asio::redirect_error(asio::use_awaitable, ec));
        if (ec == asio::error::operation_aborted || !from.is_open())
            break;
        if (out_of_descriptors(ec)) {  // pause instead of spinning; users go on being served
            if (!paused)
                log_line("Out of file descriptors: accepting pauses.");
            paused = true;
            asio::steady_timer wait(from.get_executor(), std::chrono::milliseconds(100));
            co_await wait.async_wait(asio::redirect_error(asio::use_awaitable, ec));
            continue;
        }
        paused = false;
        if (!ec)
            adopt(std::move(socket), loop, tls);
    }
    if (tls != nullptr)
        co_return;
    log_line("");
    log_line("Listen-proc stopped.");
}

// Connections go round the event loops in turn.
asio::io_context& network::impl::next_loop()
{
    asio::io_context& loop = loops[next].io;
    next = (next + 1) % loops.size();
    return loop;
}

// Both ports count against max_connections together.
void network::impl::adopt(asio::ip::tcp::socket socket, asio::io_context& loop, asio::ssl::context* tls)
{
    std::lock_guard guard(lock);
    if (stopping)
        return;  // closed at once
    if (connections.size() >= static_cast<std::size_t>(config.max_connections)) {
        if (!refusing)
            log_line("Too many connections (" + std::to_string(connections.size()) + "): new ones are closed.");
        refusing = true;
        return;
    }
    refusing = false;
    asio::error_code ignored;
    socket.set_option(asio::ip::tcp::no_delay(true), ignored);
    auto stream = tls ? connection_stream(std::move(socket), *tls) : connection_stream(std::move(socket));
    auto c = std::make_shared<client_connection>(std::move(stream), loop, state, workers, hashing, limits,
                                                 [this](client_connection* done) { forget(done); });
    connections.emplace(c.get(), c);
    c->start();
}

// On the first loop, never beside an accept in flight; returns once both are closed.
void network::impl::close_acceptors()
{
    asio::post(loops[0].io, [this] {
        asio::error_code ignored;
        acceptor.close(ignored);
        tls_acceptor.close(ignored);
        std::lock_guard guard(lock);
        listening = false;
        changed.notify_all();
    });
    std::unique_lock guard(lock);
    changed.wait(guard, [this] { return !listening; });
}

void network::impl::forget(client_connection* c)
{
    std::lock_guard guard(lock);
    connections.erase(c);
    if (connections.empty())
        changed.notify_all();
}

// With tls_port set the certificate and the TLS port first: nothing listens when the
// certificate cannot be loaded, and once the plain port accepts, so does the TLS port.
bool network::impl::listen(std::string& why)
{
    if (config.tls_port != 0) {
        log_text("Loading the TLS certificate...");
        tls = load_tls_context(config.tls_certificate, config.tls_private_key, why);
        log_line(tls ? "Ok." : "Failed: " + why + ".");
        if (!tls || !listen_on(tls_acceptor, config.tls_port, "initializing TLS socket...", why))
            return false;
    }
    return listen_on(acceptor, config.port, "initializing socket...", why);
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
    if (!n.listen(why))
        return false;
    log_line("Listening...");
    raise_descriptor_limit();
    n.limits.longest_request = static_cast<std::size_t>(config.buff_size) - frame_overhead;
    n.limits.unfinished_frame = std::chrono::seconds(config.frame_timeout);
    n.limits.worker_deadline = std::chrono::seconds(config.db_timeout) + std::chrono::seconds(1);
    asio::io_context& first = n.loops[0].io;
    asio::co_spawn(first, [&n] { return n.accept_loop(n.acceptor, nullptr); }, asio::detached);
    if (n.tls)
        asio::co_spawn(first, [&n] { return n.accept_loop(n.tls_acceptor, n.tls.get()); }, asio::detached);
    return true;
}

// A thread for every loop; false with why when the system refuses one. stop() ends
// those that started.
bool network::impl::start_loops(std::string& why)
{
    try {
        for (auto& loop : loops)
            loop.thread = std::thread([&loop] {
                mark_event_loop_thread();
                loop.io.run();
            });
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
    if (!n.loops[0].thread.joinable())  // never started, or stopped already
        return;
    {
        std::lock_guard guard(n.lock);
        n.stopping = true;
    }
    n.close_acceptors();
    std::unique_lock guard(n.lock);
    for (auto& [raw, c] : n.connections)
        c->shutdown();
    n.changed.wait(guard, [&n] { return n.connections.empty(); });
    guard.unlock();
    n.hashing.join();
    n.workers.join();
    for (auto& loop : n.loops)
        loop.keep_running.reset();
    for (auto& loop : n.loops)
        if (loop.thread.joinable())
            loop.thread.join();
}

} // namespace qs
