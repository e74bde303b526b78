#pragma once

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "qs/server/command_interpreter.h"
#include "qs/net/frame.h"
#include "connection_stream.h"
#include "lazy_timer.h"
#include "worker_job.h"
#include "worker_pool.h"

namespace qs {

// One client connection, pinned to one event loop (an io_context run by one thread).
// Members are used on that thread only, except the write side under write_lock_:
// reply() may run on any thread, and when the socket is idle a select completed on
// another thread sends its reply from there, without waking the loop. Shared by its
// read loop and its pending operations: it lives exactly as long as they do.
class client_connection : public std::enable_shared_from_this<client_connection> {
public:
    struct limits {
        std::size_t longest_request;      // buff_size - 5
        std::size_t queued_commands = 64;  // past this the connection is not read
        std::size_t unsent_bytes = 1 << 20;         // past this the connection is not read
        std::size_t most_unsent_bytes = 16 << 20;   // past this the connection is closed
        std::chrono::seconds unfinished_frame{30};  // a frame left incomplete longer closes it
        int waiting_selects = 32;
        // A command on a worker not answered by then is answered by the loop: db_timeout
        // and a second, so that the database's own time-outs come first.
        std::chrono::milliseconds worker_deadline{11000};
    };

    client_connection(connection_stream stream, asio::io_context& loop, server_state& state,
                      worker_pool& workers, asio::thread_pool& hashing, const limits& limits,
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

    asio::awaitable<void> read_loop();
    bool read_paused();
    void drop_unread();
    void accept_bytes();
    void watch_unfinished_frame();
    void pump();
    bool hold_front();
    void drop_held_login();
    void run_on_worker(request r);
    void post_awaited();
    void work_on(const std::shared_ptr<on_worker>& w);
    void step(const std::shared_ptr<on_worker>& w);
    void hash_then_step(const std::shared_ptr<on_worker>& w, password_work& work);
    void finished_late(const std::shared_ptr<on_worker>& w, const std::string& result, const hand_out& given,
                       const ack_handle& later);
    void worker_done(const std::shared_ptr<on_worker>& w, const std::string& result, hand_out given, ack_handle later);
    void watch_deadline();
    void expire(std::shared_ptr<on_worker> w);
    std::string reply_unrun(const request& r, bool still_runs);
    void straggler_done();
    void park(const request& r);
    void answer(request& r);
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
    void settle(held_reply& slot, const std::string& text);
    void release_settled();
    void emit(std::int32_t cid, const std::string& text, const std::string& command, hand_out given, emitted& out);
    void emit_bytes(std::string& bytes, std::vector<hand_out>& given, emitted& out);
    void after_emit(emitted& out);
    bool send_directly(std::string& bytes);
    void return_given(std::vector<hand_out>& given);
    void put_back_returned();
    void flush();
    void write_more();
    void write_done(const asio::error_code& ec);
    void finish_if_done();
    void end_then_close();
    void close_socket();

    connection_stream stream_;
    asio::io_context::executor_type loop_;  // the event loop the socket belongs to
    const int direct_fd_;                   // plain TCP's descriptor, -1 under TLS
    worker_pool& workers_;
    asio::thread_pool& hashing_;  // Argon2 only: no worker waits on it
    const limits limits_;
    std::function<void(client_connection*)> closed_callback_;
    command_interpreter interpreter_;
    frame_splitter frames_;
    lazy_timer resume_reading_;    // cancelled when a paused read may go on
    lazy_timer unfinished_frame_;  // runs while a frame is incomplete
    lazy_timer held_login_;        // runs while a login waits its turn
    lazy_timer worker_deadline_;   // armed while a command's answer is awaited from a worker
    bool deadline_armed_ = false;
    bool watching_frame_ = false;
    std::deque<request> queue_;           // commands not started yet, in arrival order
    bool busy_ = false;                   // a command runs on a worker, or a login waits
    std::shared_ptr<on_worker> awaited_;  // the command whose answer is awaited from a worker
    int stragglers_ = 0;  // commands answered at their deadline still running: the next waits for them
    bool holding_ = false;                // a login waits for its turn (held_login_)
    std::atomic<int> parked_ = 0;         // selects waiting in the session
    std::string writing_;                 // the write in flight
    std::vector<hand_out> writing_given_; // what the write in flight hands out
    bool read_done_ = false;              // end of file, an error, or shutdown
    bool stopping_ = false;               // the server stops: replies still held are not waited for

    // The write side. Written under write_lock_ only; the loop thread, the only writer
    // of the last three, reads those without it.
    std::mutex write_lock_;
    std::string unsent_;                  // replies not yet handed to a write
    std::vector<hand_out> unsent_given_;  // what the unsent replies hand out
    bool flush_scheduled_ = false;        // a flush() is posted
    bool write_in_flight_ = false;        // the loop's write is on the socket
    bool ending_ = false;                 // the user is being logged out
    bool closed_ = false;                 // the socket is closed: replies go to the log
    std::vector<hand_out> returned_;      // handed out by replies that never left, oldest first
    bool returns_taken_ = false;          // the end has put back what was returned
    std::list<held_reply> held_;          // replies behind a send not settled yet, in command order (a list: empty allocates nothing)
    bool end_waits_ = false;              // the end waits for held_ to empty
    bool release_pending_ = false;        // a settle_run will release what settled
};

} // namespace qs
