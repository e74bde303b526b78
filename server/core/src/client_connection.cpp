#include "client_connection.h"

#include <algorithm>
#include <boost/asio/bind_executor.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <stdexcept>
#include <sys/socket.h>

#include "qs/server/logic/command_line.h"
#include "qs/server/logic/log.h"
#include "qs/server/logic/log_redaction.h"
#include "qs/server/core/network.h"
#include "qs/server/logic/qsexcpt.h"

namespace qs {

client_connection::client_connection(connection_stream stream, transport kind, asio::io_context& loop,
                                     server_state& state, const shared_parts& shared)
    : counted_(kind), stream_(std::move(stream)), loop_(loop.get_executor()), shared_(shared), interpreter_(state),
      frames_(max_frame_size), direct_fd_(stream_.plain_descriptor())
{
    interpreter_.set_peer(stream_.peer_address());
}

void client_connection::start()
{
    if (direct_fd_ >= 0) {
        asio::dispatch(loop_, [self = shared_from_this()] {
            self->assert_on_loop();
            self->read_plain();
        });
        return;
    }
    asio::co_spawn(
        loop_, [self = shared_from_this()] { return self->read_loop(); }, asio::detached);
}

void client_connection::shutdown()
{
    asio::post(loop_, [self = shared_from_this()] {
        self->assert_on_loop();
        self->stopping_ = true;
        self->stream_.stop_reading();
        self->drop_held_login();
    });
}

// Reading waits while too many commands are queued or too many bytes unsent, unless the
// socket is closed.
bool client_connection::read_paused()
{
    assert_on_loop();
    qs::lock_guard guard(write_lock_);
    return !closed_ &&
           (queue_.size() >= shared_.bounds.queued_commands || unsent_.size() >= shared_.bounds.unsent_bytes);
}

asio::awaitable<void> client_connection::read_loop()
{
    assert_on_loop();
    auto self = shared_from_this();
    try {
        if (const auto ec = co_await stream_.handshake(shared_.bounds.unfinished_frame)) {
            const std::string kind = stream_.handshake_kind();
            const std::string closed = "Closed a connection " + interpreter_.who();
            log_warning(ec == asio::error::timed_out
                            ? closed + " that did not finish its " + kind + " handshake."
                            : closed + " whose " + kind + " handshake failed: " + ec.message());
            throw system_error(ec);
        }
        for (;;) {
            while (read_paused()) {
                auto& resume = resume_reading_.get(loop_);
                resume.expires_at(asio::steady_timer::time_point::max());
                error_code ignored;
                co_await resume.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
            }
            co_await stream_.read_into(frames_);
            accept_bytes();
        }
    } catch (...) { // a reset, a failed handshake, a frame over the cap, or shutdown
    }
    read_ended();
}

// Plain TCP reads as read_loop() does, without a coroutine: an idle connection holds one
// pending wait (a handler holding the connection) instead of coroutine frames.
void client_connection::read_plain()
{
    assert_on_loop();
    if (read_paused()) {
        auto& resume = resume_reading_.get(loop_);
        resume.expires_at(asio::steady_timer::time_point::max());
        resume.async_wait([self = shared_from_this()](const error_code&) {
            self->assert_on_loop();
            self->read_plain();
        });
        return;
    }
    stream_.async_wait_readable(frames_, [self = shared_from_this()](const error_code& ec) {
        self->assert_on_loop();
        self->plain_readable(ec);
    });
}

void client_connection::plain_readable(const error_code& ec)
{
    assert_on_loop();
    try {
        if (ec)
            throw system_error(ec);
        stream_.read_available(frames_);
        accept_bytes();
    } catch (...) { // a reset, a frame over the cap, or shutdown
        read_ended();
        return;
    }
    read_plain();
}

void client_connection::read_ended()
{
    assert_on_loop();
    read_done_ = true;
    unfinished_frame_.cancel();
    finish_if_done();
}

// Cuts the whole frames received so far into the queue and runs what may run.
void client_connection::accept_bytes()
{
    assert_on_loop();
    for (frame f; frames_.next(f);) {
        request r{std::move(f), {}, std::nullopt, false};
        r.too_long = r.raw.text.size() > shared_.bounds.longest_request;
        if (!r.too_long) {
            std::string line = r.raw.text;
            parse_command_line(r.args, line);
            r.word = command_interpreter::word_of(r.args);
        }
        queue_.push_back(std::move(r));
    }
    watch_unfinished_frame();
    pump();
}

// A frame left incomplete for too long ends the connection.
void client_connection::watch_unfinished_frame()
{
    assert_on_loop();
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
    timer.expires_after(shared_.bounds.unfinished_frame);
    timer.async_wait([self = shared_from_this()](error_code ec) {
        self->assert_on_loop();
        if (ec || !self->watching_frame_)
            return;
        log_warning("Closed a connection " + self->interpreter_.who() + " that left a frame unfinished.");
        self->close_socket();
    });
}

// Runs queued commands in arrival order: inline ones at once, the others one at a time
// on a worker; a select parks and holds up nothing.
void client_connection::pump()
{
    assert_on_loop();
    while (!busy_ && !queue_.empty() && !ending_seen_on_loop() && !hold_front()) {
        request r = std::move(queue_.front());
        queue_.pop_front();
        if (r.word == command_word::select)
            park(r);
        else if (r.too_long || !interpreter_.needs_database(r.args))
            answer(r); // on the event loop, unless it turns out to need a wait
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
    assert_on_loop();
    request& r = queue_.front();
    if (stragglers_ > 0 && !r.too_long && command_interpreter::may_hash(r.args))
        return true; // it runs alone: straggler_done() goes on
    if (r.waited || r.too_long)
        return false;
    r.waited = true;
    const auto wait = interpreter_.wait_before(r.args);
    if (wait <= std::chrono::steady_clock::duration::zero())
        return false;
    busy_ = holding_ = true;
    auto& timer = held_login_.get(loop_);
    timer.expires_after(wait);
    timer.async_wait([self = shared_from_this()](const error_code&) {
        self->assert_on_loop();
        self->busy_ = self->holding_ = false;
        self->pump();
    });
    return true;
}

// Stop does not wait out a login's turn: it and what queued behind it are dropped.
void client_connection::drop_held_login()
{
    assert_on_loop();
    if (!holding_)
        return;
    queue_.clear();
    held_login_.cancel();
}

void client_connection::answer(request& r)
{
    assert_on_loop();
    std::string result;
    hand_out given;
    ack_handle later;
    try {
        if (r.too_long) {
            result = "The command is too long.";
        } else {
            interpreter_.execute(r.args, result, &given, &later);
            if (result.size() > interpreter_.state().reply_limit())
                throw std::length_error("reply longer than one frame");
        }
    } catch (const would_block&) { // nothing changed: it runs where it may wait
        run_on_worker(std::move(r));
        return;
    } catch (...) {
        log_error_block(r.raw.cid, r.raw.text, result, reason_of(std::current_exception()));
        result = command_failed;
        later = nullptr;
    }
    if (later)
        reply_when_safe(r, std::move(later));
    else
        reply(r.raw.cid, result, r.raw.text, std::move(given));
}

// A command that may wait (on the database, or a user's lock) runs on a worker, within a
// deadline: when it passes first, the loop answers and the worker's late result is
// dropped. While the database counts as unavailable, one that needs it is answered at
// once instead, but for a logout, which logs out all the same. One command of a
// connection runs on a worker at a time: the next one also waits for those given up on,
// within its own deadline. On the loop, like expire(), worker_done() and straggler_done().
void client_connection::run_on_worker(request r)
{
    assert_on_loop();
    if (!interpreter_.state().database_available() && !interpreter_.is_logout(r.args) &&
        interpreter_.needs_database(r.args)) {
        interpreter_.not_run(r.args);
        reply(r.raw.cid, qsexcpt(qsexcpt::database_unavailable).message, r.raw.text);
        return;
    }
    busy_ = true;
    awaited_ =
        std::make_shared<on_worker>(std::move(r), std::chrono::steady_clock::now() + shared_.bounds.worker_deadline);
    watch_deadline();
    if (stragglers_ == 0)
        post_awaited();
}

// Arms the deadline timer for the awaited command unless it runs already. Firing early,
// for a command answered since or one whose deadline stands still, it waits on for the
// one awaited now: a busy connection costs one timer event per deadline rather than one
// per command. Once nothing is awaited the timer is cancelled and freed.
void client_connection::watch_deadline()
{
    assert_on_loop();
    if (deadline_armed_)
        return;
    deadline_armed_ = true;
    auto& timer = worker_deadline_.get(loop_);
    timer.expires_at(
        std::min(awaited_->deadline.load(), std::chrono::steady_clock::now() + shared_.bounds.worker_deadline));
    timer.async_wait([self = shared_from_this()](const error_code&) {
        self->assert_on_loop();
        self->deadline_armed_ = false;
        if (!self->awaited_) {
            self->worker_deadline_.release(); // an idle connection keeps no timer
            return;
        }
        if (std::chrono::steady_clock::now() < self->awaited_->deadline.load())
            self->watch_deadline();
        else
            self->expire(self->awaited_);
    });
}

void client_connection::post_awaited()
{
    assert_on_loop();
    awaited_->job.ticket = shared_.workers.post([self = shared_from_this(), w = awaited_] { self->work_on(w); });
}

// On a worker.
void client_connection::work_on(const std::shared_ptr<on_worker>& w)
{
    if (w->job.begin())
        step(w); // else it was answered at its deadline: it never runs
}

// On a worker: the command runs until it stops for its password work, or to its end.
void client_connection::step(const std::shared_ptr<on_worker>& w)
{
    std::string result;
    hand_out given;
    ack_handle later;
    bool failed = false;
    try {
        interpreter_.execute(w->r.args, result, &given, &later);
        if (result.size() > interpreter_.state().reply_limit())
            throw std::length_error("reply longer than one frame");
    } catch (...) {
        log_error_block(w->r.raw.cid, w->r.raw.text, result, reason_of(std::current_exception()));
        failed = true;
        later = nullptr;
    }
    if (password_work* work = interpreter_.waiting_work()) {
        hash_then_step(w, *work);
        return;
    }
    if (!w->job.finish()) {
        finished_late(w, failed ? std::string() : result, given, later);
        return;
    }
    asio::post(loop_, [self = shared_from_this(), w, result = failed ? std::string(command_failed) : std::move(result),
                       given = std::move(given), later = std::move(later)]() mutable {
        self->assert_on_loop();
        self->worker_done(w, result, std::move(given), std::move(later));
    });
}

// Argon2 waits its turn on the hashing pool, holding no worker, lock or loop, and its
// deadline stands still meanwhile; then the command's next step runs on a worker.
void client_connection::hash_then_step(const std::shared_ptr<on_worker>& w, password_work& work)
{
    w->deadline = on_worker::time_point::max();
    asio::post(shared_.hashing, [self = shared_from_this(), w, &work] {
        work.run();
        w->deadline = std::chrono::steady_clock::now() + self->shared_.bounds.worker_deadline;
        self->shared_.workers.post([self, w] { self->step(w); });
    });
}

// On a worker: the client was told the database did not answer. What the command handed
// out goes back; a send's settling is no longer listened to.
void client_connection::finished_late(const std::shared_ptr<on_worker>& w, const std::string& result,
                                      const hand_out& given, const ack_handle& later)
{
    interpreter_.finished_late(w->r.args, result);
    if (!given.empty()) {
        try {
            interpreter_.state().put_back(given);
        } catch (...) {
            log_error("Could not put back the messages of a reply that was not sent.");
        }
    }
    if (later)
        later->release([](bool, int) {});
    asio::post(loop_, [self = shared_from_this()] {
        self->assert_on_loop();
        self->straggler_done();
    });
}

void client_connection::worker_done(const std::shared_ptr<on_worker>& w, const std::string& result, hand_out given,
                                    ack_handle later)
{
    assert_on_loop();
    awaited_ = nullptr;
    busy_ = false;
    if (later)
        reply_when_safe(w->r, std::move(later));
    else
        reply(w->r.raw.cid, result, w->r.raw.text, std::move(given));
    pump();
    if (!awaited_ && deadline_armed_) // nothing more awaited: the timer goes
        worker_deadline_.cancel();
}

// The deadline passed first: a command still waiting never runs; a running one is given
// up (its worker no longer counts against the pool) and left to finish on its own.
// w by value: it keeps the job alive once awaited_, often what was passed, is cleared.
void client_connection::expire(std::shared_ptr<on_worker> w) // NOLINT(performance-unnecessary-value-param)
{
    assert_on_loop();
    const auto was = w->job.abandon();
    if (was == worker_job::phase::finished)
        return; // its answer is on the way
    const bool still_runs = was == worker_job::phase::running;
    if (still_runs) {
        ++stragglers_;
        shared_.workers.write_off(w->job.ticket);
    } else {
        interpreter_.not_run(w->r.args);
    }
    awaited_ = nullptr;
    busy_ = false;
    reply(w->r.raw.cid, reply_unrun(w->r, still_runs), w->r.raw.text);
    pump();
}

// "The database is not available.", but a logout logs out all the same: the session's
// pools wait in it to be stored (by the logout itself when it still runs).
std::string client_connection::reply_unrun(const request& r, bool still_runs)
{
    assert_on_loop();
    session_handle left;
    std::string reply = interpreter_.reply_unanswered(r.args, left);
    if (left && !still_runs) {
        server_state& state = interpreter_.state();
        shared_.workers.post([&state, left] {
            try {
                state.end_session(left);
            } catch (...) {
                log_error("Could not store the pending messages of " + left->name + " (" +
                          reason_of(std::current_exception()) + "); they wait for the next login.");
            }
        });
    }
    return reply;
}

// A hashing command waits for these (hold_front()), the others for their turn on a worker.
void client_connection::straggler_done()
{
    assert_on_loop();
    --stragglers_;
    if (stragglers_ == 0 && awaited_ && !awaited_->job.ticket)
        post_awaited();
    if (stragglers_ == 0 && !busy_)
        pump();
    else
        finish_if_done();
}

void client_connection::park(const request& r)
{
    assert_on_loop();
    std::string refusal;
    session_handle target = interpreter_.select_target(r.args, refusal);
    if (!refusal.empty() || !target) {
        reply(r.raw.cid, refusal, r.raw.text);
        return;
    }
    if (parked_ >= shared_.bounds.waiting_selects) {
        reply(r.raw.cid, qsexcpt(qsexcpt::too_many_selects).message, r.raw.text);
        return;
    }
    ++parked_;
    interpreter_.state().waiters().park(
        target, r.args[1],
        // Kept small (a parked select is what an idle connection is made of): the line is
        // needed only to log the reply as a select's.
        [self = shared_from_this(), cid = r.raw.cid](const std::string& reply, hand_out given) {
            static const std::string line = "select";
            --self->parked_;
            self->reply(cid, reply, line, std::move(given), false);
        });
}

// From any thread. Replies leave in command order: one held behind a send that has not
// settled waits for it. A select's reply (in_order false) leaves when it is made.
void client_connection::reply(std::int32_t cid, const std::string& text, const std::string& command, hand_out given,
                              bool in_order)
{
    emitted out;
    {
        qs::lock_guard guard(write_lock_);
        if (in_order && !held_.empty()) {
            held_.push_back({cid, command, text, std::move(given), true});
            return;
        }
        emit(cid, text, command, std::move(given), out);
    }
    after_emit(out);
}

// The reply to a send whose entries wait in memory: "Ok." once they are safe. Replies
// of later commands wait behind it.
// ack by value: the caller's handle ends here.
void client_connection::reply_when_safe(const request& r, ack_handle ack) // NOLINT(performance-unnecessary-value-param)
{
    held_reply* slot = nullptr;
    {
        qs::lock_guard guard(write_lock_);
        held_.push_back({r.raw.cid, r.raw.text, std::string(), {}, false});
        slot = &held_.back(); // stays put until it leaves
    }
    // A send may settle after the connection, and the network, are gone (at stop): then
    // nobody hears.
    ack->release([weak = weak_from_this(), slot, word = r.word](bool safe, int failure) {
        command_interpreter::count(word, safe ? command_result::ok : command_interpreter::result_of(failure));
        if (auto self = weak.lock())
            self->settle(*slot, safe ? "Ok." : qsexcpt(failure).message);
    });
}

namespace {

bool is_select(const std::string& command)
{
    return word_of_line(command) == command_word::select;
}

// The connections whose held replies settled while this thread confirms a run of entries
// (every entry of one select reply): each sends its settled replies once, at the end.
thread_local std::vector<std::shared_ptr<client_connection>>* settled_now = nullptr;
} // namespace

client_connection::settle_run::settle_run()
{
    if (settled_now == nullptr)
        settled_now = &settled_;
}

// Throws only when out of memory, and ends the process then, as any other place would.
client_connection::settle_run::~settle_run() // NOLINT(bugprone-exception-escape)
{
    if (settled_now != &settled_)
        return;
    settled_now = nullptr;
    for (auto& c : settled_)
        c->release_settled();
}

// From any thread: the held reply is known. Every ready one at the front leaves, in one
// write, now or at the end of the run of confirmations this thread is in.
void client_connection::settle(held_reply& slot, const std::string& text)
{
    {
        qs::lock_guard guard(write_lock_);
        slot.text = text;
        slot.ready = true;
        if (settled_now != nullptr) {
            if (!release_pending_)
                settled_now->push_back(shared_from_this());
            release_pending_ = true;
            return;
        }
    }
    release_settled();
}

void client_connection::release_settled()
{
    emitted out;
    {
        qs::lock_guard guard(write_lock_);
        release_pending_ = false;
        std::string bytes;
        std::vector<hand_out> given;
        for (; !held_.empty() && held_.front().ready; held_.pop_front()) {
            held_reply& r = held_.front();
            if (closed_ || ending_) {
                emit(r.cid, r.text, r.command, std::move(r.given), out);
                continue;
            }
            bytes += encode_frame(r.cid, r.text);
            if (!r.given.empty())
                given.push_back(std::move(r.given));
        }
        if (!bytes.empty())
            emit_bytes(bytes, given, out);
        out.end_waits = held_.empty() && end_waits_;
        end_waits_ = end_waits_ && !out.end_waits;
    }
    after_emit(out);
}

// Under write_lock_: hands the reply to an idle socket at once, else keeps it for the
// loop's write. A reply that cannot reach the client keeps what it hands out to put back.
void client_connection::emit(std::int32_t cid, const std::string& text, const std::string& command, hand_out given,
                             emitted& out)
{
    if (closed_ || ending_) { // nobody to answer
        if (!given.empty())
            returned_.push_back(std::move(given));
        out.unanswered.push_back({cid, command, text, {}, true});
        out.late_return = out.late_return || returns_taken_;
        return;
    }
    std::string bytes = encode_frame(cid, text);
    std::vector<hand_out> one;
    if (!given.empty())
        one.push_back(std::move(given));
    emit_bytes(bytes, one, out);
}

// Under write_lock_, with somebody to answer: the frames leave at once when the socket
// is idle, else join the loop's next write.
void client_connection::emit_bytes(std::string& bytes, std::vector<hand_out>& given, emitted& out)
{
    if (send_directly(bytes)) { // it left whole
        for (auto& g : given)
            out.sent.push_back(std::move(g));
        return;
    }
    unsent_ += bytes;
    for (auto& g : given)
        unsent_given_.push_back(std::move(g));
    if (unsent_.size() > shared_.bounds.most_unsent_bytes) {
        out.too_much = true;
        return;
    }
    if (write_in_flight_ || flush_scheduled_)
        return;
    flush_scheduled_ = true; // after what runs now: replies made meanwhile join this write
    out.flush = true;
}

// Outside write_lock_: what emit() left to do.
void client_connection::after_emit(emitted& out)
{
    for (const auto& u : out.unanswered) {
        if (is_select(u.command)) // released as its own connection ended; what it took is put back
            log_line(log_level::debug, "Released a select of a connection that ended.");
        else
            log_error_block(u.cid, u.command, u.text);
    }
    if (out.late_return) // the end is over: nothing else will put it back
        shared_.workers.post([self = shared_from_this()] { self->put_back_returned(); });
    if (out.too_much)
        asio::dispatch(loop_, [self = shared_from_this()] {
            self->assert_on_loop();
            self->drop_unread();
        });
    else if (out.flush)
        asio::post(loop_, [self = shared_from_this()] {
            self->assert_on_loop();
            self->flush();
        });
    if (out.end_waits)
        asio::post(loop_, [self = shared_from_this()] {
            self->assert_on_loop();
            self->finish_if_done();
        });
    settle_run run;
    for (auto& given : out.sent)
        given.confirm();
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
    assert_on_loop();
    if (close_socket())
        log_warning("Closed a connection " + interpreter_.who() + " that does not read its replies.");
}

void client_connection::flush()
{
    assert_on_loop();
    {
        qs::lock_guard guard(write_lock_);
        flush_scheduled_ = false;
    }
    write_more();
    finish_if_done();
}

// Every reply produced meanwhile leaves in one write.
void client_connection::write_more()
{
    assert_on_loop();
    {
        qs::lock_guard guard(write_lock_);
        if (write_in_flight_ || unsent_.empty() || closed_)
            return;
        write_in_flight_ = true;
        writing_.swap(unsent_);
        unsent_.clear();
        writing_given_.swap(unsent_given_);
        unsent_given_.clear();
    }
    stream_.async_write(asio::buffer(writing_),
                        asio::bind_executor(loop_, [self = shared_from_this()](error_code ec, std::size_t) {
                            self->assert_on_loop();
                            self->write_done(ec);
                        }));
}

void client_connection::write_done(const error_code& ec)
{
    assert_on_loop();
    {
        qs::lock_guard guard(write_lock_);
        write_in_flight_ = false;
        if (ec)
            return_given(writing_given_);
    }
    writing_.clear();
    if (ec) {
        close_socket();
        finish_if_done();
        return;
    }
    {
        settle_run run;
        for (auto& given : writing_given_)
            given.confirm();
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
    assert_on_loop();
    if (!read_done_ || busy_)
        return;
    bool returned = false;
    {
        qs::lock_guard guard(write_lock_);
        if (ending_ || write_in_flight_ || flush_scheduled_ || (!closed_ && (!queue_.empty() || !unsent_.empty())))
            return;
        if (!closed_ && !stopping_ && !held_.empty()) { // a send has not settled: its reply comes first
            end_waits_ = true;
            return;
        }
        ending_ = true;
        returned = !returned_.empty();
    }
    if (interpreter_.logged_in() || returned) // storing the pools may wait on the database
        shared_.workers.post([self = shared_from_this()] { self->end_then_close(); });
    else
        end_then_close();
}

// On a worker when there is anything to put back or store.
void client_connection::end_then_close()
{
    std::string who = interpreter_.who(); // before the logout
    put_back_returned();
    interpreter_.end();
    asio::post(loop_, [self = shared_from_this(), who = std::move(who)] {
        self->assert_on_loop();
        self->close_socket();
        self->worker_deadline_.cancel(); // nothing is awaited: it ends, and the loop may run out of work
        self->counted_.release();
        self->shared_.closed(self.get()); // gone from the counts before the log says so
        log_line("Closed a connection " + who + ".");
    });
}

// False when it was closed already.
bool client_connection::close_socket()
{
    assert_on_loop();
    {
        qs::lock_guard guard(write_lock_);
        if (closed_)
            return false;
        closed_ = true;
        stream_.close(read_done_ && !write_in_flight_);
        unsent_.clear();
        return_given(unsent_given_);
    }
    resume_reading_.cancel();
    unfinished_frame_.cancel();
    held_login_.cancel();
    queue_.clear();
    return true;
}

// Under write_lock_: what replies that never left hand out, kept in the order handed out.
void client_connection::return_given(std::vector<hand_out>& given)
{
    for (auto& g : given)
        if (!g.empty())
            returned_.push_back(std::move(g));
    given.clear();
}

// Puts back what replies that never left handed out, newest first, so that each pool
// keeps its order; on a worker, since it may wait for a user's lock or the database.
// Once the connection's end has taken them, later ones are put back by whoever returns
// them.
void client_connection::put_back_returned()
{
    auto returned = std::make_shared<std::vector<hand_out>>();
    {
        qs::lock_guard guard(write_lock_);
        returned->swap(returned_);
        returns_taken_ = true;
    }
    if (returned->empty())
        return;
    server_state& state = interpreter_.state();
    auto put_back = [&state, returned] {
        for (auto it = returned->rbegin(); it != returned->rend(); ++it) {
            try {
                state.put_back(*it);
            } catch (...) {
                log_error("Could not put back the messages of a reply that was not sent.");
            }
        }
    };
    if (on_event_loop())
        shared_.workers.post(put_back);
    else
        put_back();
}

} // namespace qs
