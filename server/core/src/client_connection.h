#pragma once

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qs/server/command_interpreter.h"
#include "qs/net/frame.h"
#include "qs/sync/debug_assert.h"
#include "qs/sync/mutex.h"
#include "qs/sync/thread_role.h"
#include "connection_stream.h"
#include "lazy_timer.h"

namespace qs {

// One client connection, pinned to one event loop (an io_context run by one thread).
// Each member is const, loop-only (GUARDED_BY(loop_thread_): touched only by code that
// runs on the loop and asserts so), part of the write side (GUARDED_BY(write_lock_):
// reply() and settle() run on any thread, and when the socket is idle a reply made on
// another thread is sent from there, without waking the loop), or atomic. The
// interpreter runs one command at a time: on the loop, or on a database worker while
// busy_ holds the loop's commands back. Shared by its read loop and its pending
// operations: it lives exactly as long as they do.
class client_connection : public std::enable_shared_from_this<client_connection> {
public:
    struct limits {
        std::size_t longest_request;      // buff_size - 5
        std::size_t queued_commands = 64;  // past this the connection is not read
        std::size_t unsent_bytes = 1 << 20;         // past this the connection is not read
        std::size_t most_unsent_bytes = 16 << 20;   // past this the connection is closed
        std::chrono::seconds unfinished_frame{30};  // a frame left incomplete longer closes it
        int waiting_selects = 32;
    };

    client_connection(connection_stream stream, asio::io_context& loop, server_state& state,
                      asio::thread_pool& workers, const limits& limits,
                      std::function<void(client_connection*)> closed);

    void start();
    // From any thread: stop reading; the connection ends once its commands are done.
    void shutdown();

private:
    struct request {
        frame raw;
        std::vector<std::string> args;
        bool too_long = false;
        bool waited = false;  // its wait before running is over (or there was none)
    };

    // Where loop-only code starts (the read loop, a handler posted to the loop or run by
    // one of its timers): aborts in Debug builds unless on loop_, and holds loop_thread_
    // for the analysis from there on. Loop-only functions REQUIRE loop_thread_ and
    // assert it too.
    void assert_on_loop() const ASSERT_CAPABILITY(loop_thread_) { QS_ASSERT(loop_.running_in_this_thread()); }

    asio::awaitable<void> read_loop();
    bool read_paused() REQUIRES(loop_thread_);
    void drop_unread() REQUIRES(loop_thread_);
    void accept_bytes() REQUIRES(loop_thread_);
    void watch_unfinished_frame() REQUIRES(loop_thread_);
    void pump() REQUIRES(loop_thread_);
    bool hold_front() REQUIRES(loop_thread_);
    void run_on_worker(request r) REQUIRES(loop_thread_);
    void park(const request& r) REQUIRES(loop_thread_);
    void answer(request& r) REQUIRES(loop_thread_);
    struct held_reply {
        std::int32_t cid;
        std::string command;
        std::string text;
        hand_out given;
        bool ready;
    };
    struct emitted {  // what emit() leaves to do outside write_lock_
        std::vector<held_reply> unanswered;
        std::vector<hand_out> sent;
        bool late_return = false;
        bool too_much = false;
        bool flush = false;
        bool end_waits = false;
    };
    void reply(std::int32_t cid, const std::string& text, const std::string& command, hand_out given = {},
               bool in_order = true);
    void reply_when_safe(std::int32_t cid, const std::string& command, ack_handle ack);
    void settle(held_reply& slot, const std::string& text);
    void emit(std::int32_t cid, const std::string& text, const std::string& command, hand_out given, emitted& out)
        REQUIRES(write_lock_);
    void after_emit(emitted& out);
    bool send_directly(std::string& bytes) REQUIRES(write_lock_);
    void return_given(std::vector<hand_out>& given) REQUIRES(write_lock_);
    void put_back_returned();
    void flush() REQUIRES(loop_thread_);
    void write_more() REQUIRES(loop_thread_);
    void write_done(const asio::error_code& ec) REQUIRES(loop_thread_);
    void finish_if_done() REQUIRES(loop_thread_);
    void end_then_close();
    bool close_socket() REQUIRES(loop_thread_);
    // Escape: the loop, ending_'s only writer, may read it without write_lock_; the
    // analysis has no "written under both, read under either".
    bool ending_seen_on_loop() const REQUIRES(loop_thread_) NO_THREAD_SAFETY_ANALYSIS { return ending_; }

    connection_stream stream_ GUARDED_BY(loop_thread_);
    const asio::io_context::executor_type loop_;     // the event loop the socket belongs to
    [[no_unique_address]] thread_role loop_thread_;  // held by code running on loop_
    const int direct_fd_;          // plain TCP's descriptor, -1 under TLS; sent to under write_lock_
    asio::thread_pool& workers_;   // thread-safe itself
    const limits limits_;
    const std::function<void(client_connection*)> closed_callback_;  // called once, on the loop
    command_interpreter interpreter_;  // one command at a time: on the loop, or on a worker while busy_
    frame_splitter frames_ GUARDED_BY(loop_thread_);
    lazy_timer resume_reading_ GUARDED_BY(loop_thread_);    // cancelled when a paused read may go on
    lazy_timer unfinished_frame_ GUARDED_BY(loop_thread_);  // runs while a frame is incomplete
    lazy_timer held_login_ GUARDED_BY(loop_thread_);        // runs while a login waits its turn
    bool watching_frame_ GUARDED_BY(loop_thread_) = false;
    std::deque<request> queue_ GUARDED_BY(loop_thread_);  // commands not started yet, in arrival order
    bool busy_ GUARDED_BY(loop_thread_) = false;          // a command runs on a worker, or a login waits
    std::atomic<int> parked_ = 0;  // selects waiting in the session; counted down where they complete
    std::string writing_ GUARDED_BY(loop_thread_);                  // the write in flight
    std::vector<hand_out> writing_given_ GUARDED_BY(loop_thread_);  // what the write in flight hands out
    bool read_done_ GUARDED_BY(loop_thread_) = false;  // end of file, an error, or shutdown
    bool stopping_ GUARDED_BY(loop_thread_) = false;   // the server stops: replies still held are not waited for

    // The write side. write_in_flight_, ending_ and closed_ change on the loop only.
    mutex write_lock_;
    std::string unsent_ GUARDED_BY(write_lock_);                  // replies not yet handed to a write
    std::vector<hand_out> unsent_given_ GUARDED_BY(write_lock_);  // what the unsent replies hand out
    bool flush_scheduled_ GUARDED_BY(write_lock_) = false;        // a flush() is posted
    bool write_in_flight_ GUARDED_BY(write_lock_) = false;        // the loop's write is on the socket
    bool ending_ GUARDED_BY(write_lock_) = false;                 // the user is being logged out
    bool closed_ GUARDED_BY(write_lock_) = false;  // the socket is closed: replies go to the log
    // Handed out by replies that never left, oldest first.
    std::vector<hand_out> returned_ GUARDED_BY(write_lock_);
    bool returns_taken_ GUARDED_BY(write_lock_) = false;  // the end has put back what was returned
    // Replies behind a send not settled yet, in command order.
    std::deque<held_reply> held_ GUARDED_BY(write_lock_);
    bool end_waits_ GUARDED_BY(write_lock_) = false;  // the end waits for held_ to empty
};

} // namespace qs
