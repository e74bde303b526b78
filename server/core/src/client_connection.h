#pragma once

#include <boost/asio/awaitable.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/thread_pool.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qs/server/logic/command_interpreter.h"
#include "qs/server/logic/server_metrics.h"
#include "qs/net/frame.h"
#include "qs/sync/debug_assert.h"
#include "qs/sync/mutex.h"
#include "qs/sync/thread_role.h"
#include "asio_alias.h"
#include "connection_stream.h"
#include "served_connection.h"
#include "lazy_timer.h"
#include "worker_job.h"
#include "worker_pool.h"

namespace qs {

// One client connection, pinned to one event loop (an io_context run by one thread).
// Each member is const, loop-only (GUARDED_BY(loop_thread_): touched only by code that
// runs on the loop and asserts so), part of the write side (GUARDED_BY(write_lock_):
// reply() and settle() run on any thread, and when the socket is idle a reply made on
// another thread is sent from there, without waking the loop), or atomic. The
// interpreter runs a command on the loop, or on a database worker while busy_ holds the
// loop's commands back (see command_interpreter for one given up on at its deadline).
// Shared by its read loop and its pending operations: it lives exactly as long as they do.
class client_connection final : public served_connection, public std::enable_shared_from_this<client_connection> {
public:
    struct limits {
        std::size_t longest_request;               // buff_size - 5
        std::size_t queued_commands = 64;          // past this the connection is not read
        std::size_t unsent_bytes = 1 << 20;        // past this the connection is not read
        std::size_t most_unsent_bytes = 16 << 20;  // past this the connection is closed
        std::chrono::seconds unfinished_frame{30}; // a frame left incomplete longer closes it
        int waiting_selects = 32;
        // A command on a worker not answered by then is answered by the loop: db_timeout
        // and a second, so that the database's own time-outs come first.
        std::chrono::milliseconds worker_deadline{11000};
    };

    // What every connection of a network shares: the network's, which outlives them.
    struct shared_parts {
        worker_pool& workers;       // thread-safe itself
        asio::thread_pool& hashing; // thread-safe itself; Argon2 only: no worker waits on it
        limits bounds;
        std::function<void(client_connection*)> closed; // called once per connection, on its loop
    };

    client_connection(connection_stream stream, transport kind, asio::io_context& loop, server_state& state,
                      const shared_parts& shared);

    void start();
    // From any thread: stop reading; the connection ends once its commands are done.
    void shutdown() override;

    // While one lives on a thread, held replies settled there leave once it ends, each
    // connection's in one write.
    class settle_run {
    public:
        settle_run();
        ~settle_run();
        settle_run(const settle_run&) = delete;
        settle_run& operator=(const settle_run&) = delete;

    private:
        std::vector<std::shared_ptr<client_connection>> settled_;
    };

private:
    struct request {
        frame raw;
        std::vector<std::string> args;
        std::optional<command_word> word; // of args; none when unknown or too long
        bool too_long = false;
        bool waited = false; // its wait before running is over (or there was none)
    };
    // A command handed to a worker: the request is read by both, changed by neither. The
    // deadline stands still while the command waits for its password work: each of its
    // database steps has a deadline of its own.
    struct on_worker {
        using time_point = std::chrono::steady_clock::time_point;
        on_worker(request req, time_point by) : r(std::move(req)), deadline(by) {}
        const request r;
        std::atomic<time_point> deadline;
        worker_job job;
    };

    // Where loop-only code starts (the read loop, a handler posted to the loop or run by
    // one of its timers): aborts in Debug builds unless on loop_, and holds loop_thread_
    // for the analysis from there on. Loop-only functions REQUIRE loop_thread_ and
    // assert it too.
    void assert_on_loop() const ASSERT_CAPABILITY(loop_thread_) { QS_ASSERT(loop_.running_in_this_thread()); }

    asio::awaitable<void> read_loop();
    void read_plain() REQUIRES(loop_thread_);
    void plain_readable(const error_code& ec) REQUIRES(loop_thread_);
    void read_ended() REQUIRES(loop_thread_);
    bool read_paused() REQUIRES(loop_thread_);
    void drop_unread() REQUIRES(loop_thread_);
    void accept_bytes() REQUIRES(loop_thread_);
    void watch_unfinished_frame() REQUIRES(loop_thread_);
    void pump() REQUIRES(loop_thread_);
    bool hold_front() REQUIRES(loop_thread_);
    void drop_held_login() REQUIRES(loop_thread_);
    void run_on_worker(request r) REQUIRES(loop_thread_);
    void post_awaited() REQUIRES(loop_thread_);
    // On a worker (and the hashing pool between the steps of a hashing command).
    void work_on(const std::shared_ptr<on_worker>& w);
    void step(const std::shared_ptr<on_worker>& w);
    void hash_then_step(const std::shared_ptr<on_worker>& w, password_work& work);
    void finished_late(const std::shared_ptr<on_worker>& w, const std::string& result, const hand_out& given,
                       const ack_handle& later);
    // On the loop.
    void worker_done(const std::shared_ptr<on_worker>& w, const std::string& result, hand_out given, ack_handle later)
        REQUIRES(loop_thread_);
    void watch_deadline() REQUIRES(loop_thread_);
    void expire(std::shared_ptr<on_worker> w) REQUIRES(loop_thread_);
    std::string reply_unrun(const request& r, bool still_runs) REQUIRES(loop_thread_);
    void straggler_done() REQUIRES(loop_thread_);
    void park(const request& r) REQUIRES(loop_thread_);
    void answer(request& r) REQUIRES(loop_thread_);
    struct held_reply {
        std::int32_t cid;
        std::string command;
        std::string text;
        hand_out given;
        bool ready;
    };
    struct emitted { // what emit() leaves to do outside write_lock_
        std::vector<held_reply> unanswered;
        std::vector<hand_out> sent;
        bool late_return = false;
        bool too_much = false;
        bool flush = false;
        bool end_waits = false;
    };
    void reply(std::int32_t cid, const std::string& text, const std::string& command, hand_out given = {},
               bool in_order = true);
    void reply_when_safe(const request& r, ack_handle ack);
    void settle(held_reply& slot, const std::string& text);
    void release_settled();
    void emit(std::int32_t cid, const std::string& text, const std::string& command, hand_out given, emitted& out)
        REQUIRES(write_lock_);
    void emit_bytes(std::string& bytes, std::vector<hand_out>& given, emitted& out) REQUIRES(write_lock_);
    void after_emit(emitted& out);
    bool send_directly(std::string& bytes) REQUIRES(write_lock_);
    void return_given(std::vector<hand_out>& given) REQUIRES(write_lock_);
    void put_back_returned();
    void flush() REQUIRES(loop_thread_);
    void write_more() REQUIRES(loop_thread_);
    void write_done(const error_code& ec) REQUIRES(loop_thread_);
    void finish_if_done() REQUIRES(loop_thread_);
    void end_then_close();
    bool close_socket() REQUIRES(loop_thread_);
    // Escape: the loop, ending_'s only writer, may read it without write_lock_; the
    // analysis has no "written under both, read under either".
    bool ending_seen_on_loop() const REQUIRES(loop_thread_) NO_THREAD_SAFETY_ANALYSIS { return ending_; }

    // Members are grouped by size, small ones last in each group, so that the object fits
    // a smaller allocation: every idle connection pays for each byte.
    connection_count counted_; // until it closes; released on the loop
    connection_stream stream_ GUARDED_BY(loop_thread_);
    const asio::io_context::executor_type loop_;    // the event loop the socket belongs to
    [[no_unique_address]] thread_role loop_thread_; // held by code running on loop_
    const shared_parts& shared_;                    // the network's
    command_interpreter interpreter_;               // see above
    frame_splitter frames_ GUARDED_BY(loop_thread_);
    lazy_timer resume_reading_ GUARDED_BY(loop_thread_);   // cancelled when a paused read may go on
    lazy_timer unfinished_frame_ GUARDED_BY(loop_thread_); // runs while a frame is incomplete
    lazy_timer held_login_ GUARDED_BY(loop_thread_);       // runs while a login waits its turn
    lazy_timer worker_deadline_ GUARDED_BY(loop_thread_);  // armed while a command's answer is awaited from a worker
    // Commands not started yet, in arrival order (a list: a deque allocates 0.5 KiB while empty).
    std::list<request> queue_ GUARDED_BY(loop_thread_);
    // The command whose answer is awaited from a worker.
    std::shared_ptr<on_worker> awaited_ GUARDED_BY(loop_thread_);
    std::string writing_ GUARDED_BY(loop_thread_);                 // the write in flight
    std::vector<hand_out> writing_given_ GUARDED_BY(loop_thread_); // what the write in flight hands out
    const int direct_fd_; // plain TCP's descriptor, -1 under TLS; sent to under write_lock_
    // Commands answered at their deadline still running: the next waits for them.
    int stragglers_ GUARDED_BY(loop_thread_) = 0;
    std::atomic<int> parked_ = 0; // selects waiting in the session; counted down where they complete
    bool deadline_armed_ GUARDED_BY(loop_thread_) = false;
    bool watching_frame_ GUARDED_BY(loop_thread_) = false;
    bool busy_ GUARDED_BY(loop_thread_) = false;      // a command runs on a worker, or a login waits
    bool holding_ GUARDED_BY(loop_thread_) = false;   // a login waits for its turn (held_login_)
    bool read_done_ GUARDED_BY(loop_thread_) = false; // end of file, an error, or shutdown
    bool stopping_ GUARDED_BY(loop_thread_) = false;  // the server stops: replies still held are not waited for

    // The write side. write_in_flight_, ending_ and closed_ change on the loop only.
    mutex write_lock_;
    std::string unsent_ GUARDED_BY(write_lock_);                 // replies not yet handed to a write
    std::vector<hand_out> unsent_given_ GUARDED_BY(write_lock_); // what the unsent replies hand out
    // Handed out by replies that never left, oldest first.
    std::vector<hand_out> returned_ GUARDED_BY(write_lock_);
    // Replies behind a send not settled yet, in command order (a list: empty allocates nothing).
    std::list<held_reply> held_ GUARDED_BY(write_lock_);
    bool flush_scheduled_ GUARDED_BY(write_lock_) = false; // a flush() is posted
    bool write_in_flight_ GUARDED_BY(write_lock_) = false; // the loop's write is on the socket
    bool ending_ GUARDED_BY(write_lock_) = false;          // the user is being logged out
    bool closed_ GUARDED_BY(write_lock_) = false;          // the socket is closed: replies go to the log
    bool returns_taken_ GUARDED_BY(write_lock_) = false;   // the end has put back what was returned
    bool end_waits_ GUARDED_BY(write_lock_) = false;       // the end waits for held_ to empty
    bool release_pending_ GUARDED_BY(write_lock_) = false; // a settle_run will release what settled
};

} // namespace qs
