#pragma once

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "qs/server/command_interpreter.h"
#include "qs/net/frame.h"
#include "connection_stream.h"
#include "lazy_timer.h"

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
    };

    client_connection(connection_stream stream, asio::io_context& loop, server_state& state,
                      asio::thread_pool& workers, asio::thread_pool& hashing, const limits& limits,
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

    asio::awaitable<void> read_loop();
    bool read_paused();
    void drop_unread();
    void accept_bytes();
    void watch_unfinished_frame();
    void pump();
    bool hold_front();
    void drop_held_login();
    void run_on_worker(request r);
    void run_with_hashing(request r);
    void step_on_worker(request r);
    void park(const request& r);
    void answer(const request& r);
    void reply(std::int32_t cid, const std::string& text, const std::string& command, hand_out given = {});
    bool send_directly(std::string& bytes);
    void give_back(std::vector<hand_out>& given);
    void flush();
    void write_more();
    void write_done(const asio::error_code& ec);
    void finish_if_done();
    void end_then_close();
    void close_socket();

    connection_stream stream_;
    asio::io_context::executor_type loop_;  // the event loop the socket belongs to
    const int direct_fd_;                   // plain TCP's descriptor, -1 under TLS
    asio::thread_pool& workers_;
    asio::thread_pool& hashing_;  // Argon2 only: no worker waits on it
    const limits limits_;
    std::function<void(client_connection*)> closed_callback_;
    command_interpreter interpreter_;
    frame_splitter frames_;
    lazy_timer resume_reading_;    // cancelled when a paused read may go on
    lazy_timer unfinished_frame_;  // runs while a frame is incomplete
    lazy_timer held_login_;        // runs while a login waits its turn
    bool watching_frame_ = false;
    std::deque<request> queue_;           // commands not started yet, in arrival order
    bool busy_ = false;                   // a command runs on a worker, or a login waits
    bool holding_ = false;                // a login waits for its turn (held_login_)
    std::atomic<int> parked_ = 0;         // selects waiting in the session
    std::string writing_;                 // the write in flight
    std::vector<hand_out> writing_given_; // what the write in flight hands out
    bool read_done_ = false;              // end of file, an error, or shutdown

    // The write side. Written under write_lock_ only; the loop thread, the only writer
    // of the last three, reads those without it.
    std::mutex write_lock_;
    std::string unsent_;                  // replies not yet handed to a write
    std::vector<hand_out> unsent_given_;  // what the unsent replies hand out
    bool flush_scheduled_ = false;        // a flush() is posted
    bool write_in_flight_ = false;        // the loop's write is on the socket
    bool ending_ = false;                 // the user is being logged out
    bool closed_ = false;                 // the socket is closed: replies go to the log
};

} // namespace qs
