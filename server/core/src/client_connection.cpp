#include "client_connection.h"

#include <stdexcept>
#include <sys/socket.h>

#include "qs/server/command_line.h"
#include "qs/server/log.h"
#include "qs/server/log_redaction.h"
#include "qs/server/network.h"

namespace qs {

client_connection::client_connection(connection_stream stream, asio::io_context& loop, server_state& state,
                                     asio::thread_pool& workers, asio::thread_pool& hashing, const limits& limits,
                                     std::function<void(client_connection*)> closed)
    : stream_(std::move(stream)), loop_(loop.get_executor()), direct_fd_(stream_.plain_descriptor()), workers_(workers),
      hashing_(hashing), limits_(limits), closed_callback_(std::move(closed)), interpreter_(state), frames_(max_frame_size)
{
    interpreter_.set_peer(stream_.peer_address());
}

void client_connection::start()
{
    asio::co_spawn(loop_, [self = shared_from_this()] { return self->read_loop(); }, asio::detached);
}

void client_connection::shutdown()
{
    asio::post(loop_, [self = shared_from_this()] {
        self->stream_.stop_reading();
        self->drop_held_login();
    });
}

bool client_connection::read_paused()
{
    if (queue_.size() >= limits_.queued_commands)
        return true;
    std::lock_guard guard(write_lock_);
    return unsent_.size() >= limits_.unsent_bytes;
}

asio::awaitable<void> client_connection::read_loop()
{
    auto self = shared_from_this();
    try {
        if (const auto ec = co_await stream_.handshake(limits_.unfinished_frame)) {
            log_line(ec == asio::error::timed_out ? "Closed a connection that did not finish its TLS handshake."
                                                  : "Closed a connection whose TLS handshake failed: " + ec.message());
            throw asio::system_error(ec);
        }
        for (;;) {
            while (read_paused() && !closed_) {
                auto& resume = resume_reading_.get(loop_);
                resume.expires_at(asio::steady_timer::time_point::max());
                asio::error_code ignored;
                co_await resume.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
            }
            co_await stream_.read_into(frames_);
            accept_bytes();
        }
    } catch (...) {  // a reset, a failed handshake, a frame over the cap, or shutdown
    }
    read_done_ = true;
    unfinished_frame_.cancel();
    finish_if_done();
}

// Cuts the whole frames received so far into the queue and runs what may run.
void client_connection::accept_bytes()
{
    for (frame f; frames_.next(f);) {
        request r{std::move(f), {}, false};
        r.too_long = r.raw.text.size() > limits_.longest_request;
        if (!r.too_long) {
            std::string line = r.raw.text;
            parse_command_line(r.args, line);
        }
        queue_.push_back(std::move(r));
    }
    watch_unfinished_frame();
    pump();
}

// A frame left incomplete for too long ends the connection.
void client_connection::watch_unfinished_frame()
{
    if (!frames_.has_partial()) {
        if (watching_frame_)
            unfinished_frame_.cancel();
        watching_frame_ = false;
        return;
    }
    if (watching_frame_)
        return;
    watching_frame_ = true;
    auto& timer = unfinished_frame_.get(loop_);
    timer.expires_after(limits_.unfinished_frame);
    timer.async_wait([self = shared_from_this()](asio::error_code ec) {
        if (ec || !self->watching_frame_)
            return;
        log_line("Closed a connection that left a frame unfinished.");
        self->close_socket();
    });
}

// Runs queued commands in arrival order: inline ones at once, the others one at a time
// on a worker; a select parks and holds up nothing.
void client_connection::pump()
{
    while (!busy_ && !queue_.empty() && !ending_ && !hold_front()) {
        request r = std::move(queue_.front());
        queue_.pop_front();
        if (!r.too_long && !r.args.empty() && r.args[0] == "select")
            park(r);
        else if (r.too_long || !interpreter_.needs_database(r.args))
            answer(r);  // on the event loop: nothing to wait for
        else if (command_interpreter::may_hash(r.args))
            run_with_hashing(std::move(r));
        else
            run_on_worker(std::move(r));
    }
    if (!read_paused())
        resume_reading_.cancel();
    finish_if_done();
}

// A login waits for its turn (failed logins) and holds the commands behind it too, so
// that one connection cannot run its guesses past the wait; nothing else on the server waits.
bool client_connection::hold_front()
{
    request& r = queue_.front();
    if (r.waited || r.too_long)
        return false;
    r.waited = true;
    const auto wait = interpreter_.wait_before(r.args);
    if (wait <= std::chrono::steady_clock::duration::zero())
        return false;
    busy_ = holding_ = true;
    auto& timer = held_login_.get(loop_);
    timer.expires_after(wait);
    timer.async_wait([self = shared_from_this()](const asio::error_code&) {
        self->busy_ = self->holding_ = false;
        self->pump();
    });
    return true;
}

// Stop does not wait out a login's turn: it and what queued behind it are dropped.
void client_connection::drop_held_login()
{
    if (!holding_)
        return;
    queue_.clear();
    held_login_.cancel();
}

void client_connection::answer(const request& r)
{
    std::string result;
    hand_out given;
    try {
        if (r.too_long) {
            result = "The command is too long.";
        } else {
            interpreter_.execute(r.args, result, &given);
            if (result.size() > server_state::reply_limit())
                throw std::length_error("reply longer than one frame");
        }
    } catch (...) {
        log_error_block(r.raw.cid, r.raw.text, result, reason_of(std::current_exception()));
        result = command_failed;
    }
    reply(r.raw.cid, result, r.raw.text, std::move(given));
}

void client_connection::run_on_worker(request r)
{
    busy_ = true;
    asio::post(workers_, [self = shared_from_this(), r = std::move(r)] {
        std::string result;
        hand_out given;
        bool failed = false;
        try {
            self->interpreter_.execute(r.args, result, &given);
            if (result.size() > server_state::reply_limit())
                throw std::length_error("reply longer than one frame");
        } catch (...) {
            log_error_block(r.raw.cid, r.raw.text, result, reason_of(std::current_exception()));
            failed = true;
        }
        asio::post(self->loop_, [self, r = std::move(r), result = std::move(result), given = std::move(given),
                                   failed]() mutable {
            self->busy_ = false;
            self->reply(r.raw.cid, failed ? command_failed : result, r.raw.text, std::move(given));
            self->pump();
        });
    });
}

// A command that may need Argon2 (login, a new password): its database steps on a worker
// and its hashing between them on the hashing pool, where it waits its turn holding no
// worker, lock or loop; the commands behind it on this connection wait for it.
void client_connection::run_with_hashing(request r)
{
    busy_ = true;
    asio::post(workers_, [self = shared_from_this(), r = std::move(r)]() mutable { self->step_on_worker(std::move(r)); });
}

// On a worker: the command runs until it stops for its password work, or to its end.
void client_connection::step_on_worker(request r)
{
    std::string result;
    bool failed = false;
    try {
        interpreter_.execute(r.args, result);
    } catch (...) {
        log_error_block(r.raw.cid, r.raw.text, result, reason_of(std::current_exception()));
        failed = true;
    }
    if (password_work* work = interpreter_.waiting_work()) {
        asio::post(hashing_, [self = shared_from_this(), work, r = std::move(r)]() mutable {
            work->run();
            asio::post(self->workers_,
                       [self, r = std::move(r)]() mutable { self->step_on_worker(std::move(r)); });
        });
        return;
    }
    asio::post(loop_, [self = shared_from_this(), r = std::move(r), result = std::move(result), failed] {
        self->busy_ = false;
        self->reply(r.raw.cid, failed ? command_failed : result, r.raw.text);
        self->pump();
    });
}

void client_connection::park(const request& r)
{
    std::string refusal;
    session_handle target = interpreter_.select_target(r.args, refusal);
    if (!refusal.empty() || !target) {
        reply(r.raw.cid, refusal, r.raw.text);
        return;
    }
    if (parked_ >= limits_.waiting_selects) {
        reply(r.raw.cid, qsexcpt(qsexcpt::too_many_selects).message, r.raw.text);
        return;
    }
    ++parked_;
    interpreter_.state().park_select(
        target, r.args[1], [self = shared_from_this(), cid = r.raw.cid, text = r.raw.text](std::string reply,
                                                                                             hand_out given) {
            --self->parked_;
            self->reply(cid, reply, text, std::move(given));
        });
}

// From any thread. A reply that cannot reach the client gives back what it hands out.
void client_connection::reply(std::int32_t cid, const std::string& text, const std::string& command, hand_out given)
{
    std::string bytes = encode_frame(cid, text);
    std::unique_lock guard(write_lock_);
    if (closed_ || ending_) {  // nobody to answer
        guard.unlock();
        log_error_block(cid, command, text);
        std::vector<hand_out> lost{std::move(given)};
        give_back(lost);
        return;
    }
    if (send_directly(bytes))
        return;  // it left whole: nothing to give back
    unsent_ += bytes;
    if (!given.empty())
        unsent_given_.push_back(std::move(given));
    if (unsent_.size() > limits_.most_unsent_bytes) {
        guard.unlock();
        asio::dispatch(loop_, [self = shared_from_this()] { self->drop_unread(); });
        return;
    }
    if (write_in_flight_ || flush_scheduled_)
        return;
    flush_scheduled_ = true;  // after what runs now: replies made meanwhile join this write
    asio::post(loop_, [self = shared_from_this()] { self->flush(); });
}

// Under write_lock_, off the loop thread: to an idle plain socket the reply goes out at
// once, sparing the loop a wake-up. What did not fit stays in bytes for the loop to send;
// an error is left for the loop's write to meet.
bool client_connection::send_directly(std::string& bytes)
{
    if (direct_fd_ < 0 || write_in_flight_ || flush_scheduled_ || !unsent_.empty() || loop_.running_in_this_thread())
        return false;
    const ssize_t sent = ::send(direct_fd_, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent <= 0)
        return false;
    bytes.erase(0, static_cast<std::size_t>(sent));
    return bytes.empty();
}

void client_connection::drop_unread()
{
    if (closed_)
        return;
    log_line("Closed a connection that does not read its replies.");
    close_socket();
}

void client_connection::flush()
{
    {
        std::lock_guard guard(write_lock_);
        flush_scheduled_ = false;
    }
    write_more();
    finish_if_done();
}

// Every reply produced meanwhile leaves in one write.
void client_connection::write_more()
{
    {
        std::lock_guard guard(write_lock_);
        if (write_in_flight_ || unsent_.empty() || closed_)
            return;
        write_in_flight_ = true;
        writing_.swap(unsent_);
        unsent_.clear();
        writing_given_.swap(unsent_given_);
        unsent_given_.clear();
    }
    stream_.async_write(asio::buffer(writing_),
                        asio::bind_executor(loop_, [self = shared_from_this()](asio::error_code ec, std::size_t) {
                            self->write_done(ec);
                        }));
}

void client_connection::write_done(const asio::error_code& ec)
{
    {
        std::lock_guard guard(write_lock_);
        write_in_flight_ = false;
    }
    writing_.clear();
    if (ec) {
        give_back(writing_given_);
        close_socket();
        finish_if_done();
        return;
    }
    writing_given_.clear();
    write_more();
    if (!read_paused())
        resume_reading_.cancel();
    finish_if_done();
}

// Once reading is over and every command has run and been answered, the user is
// logged out (on a worker: it may store pools) and the socket closed.
void client_connection::finish_if_done()
{
    if (!read_done_ || ending_ || busy_ || write_in_flight_)
        return;
    {
        std::lock_guard guard(write_lock_);
        if (flush_scheduled_ || (!closed_ && (!queue_.empty() || !unsent_.empty())))
            return;
        ending_ = true;
    }
    if (interpreter_.logged_in())  // storing the pools may wait on the database
        asio::post(workers_, [self = shared_from_this()] { self->end_then_close(); });
    else
        end_then_close();
}

void client_connection::end_then_close()
{
    interpreter_.end();
    asio::post(loop_, [self = shared_from_this()] {
        self->close_socket();
        self->closed_callback_(self.get());  // gone from the count before the log says so
        log_line("Closed a connection.");
    });
}

void client_connection::close_socket()
{
    std::vector<hand_out> lost;
    {
        std::lock_guard guard(write_lock_);
        if (closed_)
            return;
        closed_ = true;
        stream_.close(read_done_ && !write_in_flight_);
        unsent_.clear();
        lost.swap(unsent_given_);
    }
    resume_reading_.cancel();
    unfinished_frame_.cancel();
    held_login_.cancel();
    queue_.clear();
    give_back(lost);
}

// Puts entries back whose replies never left; on a worker when that needs the database.
void client_connection::give_back(std::vector<hand_out>& given)
{
    for (auto& g : given) {
        if (g.empty())
            continue;
        server_state& state = interpreter_.state();
        if (!g.needs_database()) {
            state.put_back(g);
            continue;
        }
        asio::post(workers_, [&state, g = std::move(g)] {
            try {
                state.put_back(g);
            } catch (...) {
                log_line("Could not put back the messages of a reply that was not sent.");
            }
        });
    }
    given.clear();
}

} // namespace qs
