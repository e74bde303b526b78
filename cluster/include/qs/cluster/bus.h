#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "qs/sync/mutex.h"

// libnats's own names, declared as its header does.
// NOLINTBEGIN(bugprone-reserved-identifier)
typedef struct __natsConnection natsConnection;
typedef struct __natsOptions natsOptions;
typedef struct __natsMsg natsMsg;
// NOLINTEND(bugprone-reserved-identifier)

namespace qs::cluster {

// Hands a task to the loop or thread that is to run it, and returns at once: a sink
// posts, it never runs the task itself nor waits.
using task = std::function<void()>;
using sink = std::function<void(task)>;

// A change of the bus's connection: joined the first time it connects, then gone and
// back once for each outage.
enum class bus_status { joined, gone, back };

// A call into the NATS library failed; what() says which and why.
struct bus_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct bus_options {
    std::vector<std::string> urls;                  // nats://host:port each; any of them will do
    std::string name;                               // the connection's name, as the NATS server shows it
    std::chrono::milliseconds reconnect_wait{1000}; // between attempts on the same server
    std::size_t queue_limit = 8 << 20;              // bytes of publishes waiting for the publisher thread
    std::size_t batch_limit = 64 << 10;             // bytes of one NATS message of several publishes
};

// One connection to a NATS server, kept for ever: a server that is down at start, or
// goes away later, is tried again until it answers, and its subscriptions come back
// with it. NATS's own threads read the socket and run the library's callbacks; the bus
// makes those callbacks only hand tasks to sinks, so no handler ever runs on a NATS
// thread; or, for a pulled subscription, a thread of the bus's own takes each message
// from NATS and runs its handler. Publishing goes through a queue drained by a thread of
// the bus, so that a publish never waits, whatever the socket does; what is queued for
// one subject meanwhile leaves as one NATS message (bus_frames.h).
//
// Threads: publish(), connected() and dropped() from any thread, event loops included.
// The constructor, subscribe(), pull(), stop_pulling(), flush() and the destructor may
// wait on the network: never call them on an event loop.
class bus {
public:
    using message_handler = std::function<void(const std::string& subject, const std::string& data)>;
    using status_handler = std::function<void(bus_status)>;
    // The payloads that came in one NATS message, in the order they were published.
    using batch_handler = std::function<void(const std::vector<std::string>& payloads)>;

    // Starts connecting and returns, connected or not (a refused connection does not
    // wait; an address that does not answer waits for the connect time-out, 2 s).
    // status hears every bus_status, in order, through events (which must keep the
    // order: one thread or a strand). Throws bus_error on bad options.
    bus(bus_options options, sink events, status_handler status);
    // Closes the connection (what is queued is sent first, if the server is there) and
    // returns once NATS calls nothing of the bus any more. Tasks already handed to the
    // sinks may still run: they hold their own handler copies.
    ~bus();
    bus(const bus&) = delete;
    bus& operator=(const bus&) = delete;

    // Queues data for subject; false, dropping it, when the queue holds queue_limit bytes
    // already or the bus is closing. While the server is away, the library keeps what
    // it is given (8 MB) and sends it on reconnection; past that, publishes are dropped.
    bool publish(std::string subject, std::string data);
    // From now on, each message on subject (NATS wildcards allowed) is handed to to as a
    // task calling handler. Lives as long as the bus. Throws bus_error.
    void subscribe(const std::string& subject, sink to, message_handler handler);
    // From now on, what comes on subject is handed to handler on a thread of the bus's
    // own for this subscription, one batch after another, in order: the handler may
    // wait, and what comes meanwhile waits in the library. Until stop_pulling(). Throws
    // bus_error.
    void pull(const std::string& subject, batch_handler handler);
    // Ends the pulled subscriptions: the handlers under way finish first, and none runs
    // again. The destructor does it too.
    void stop_pulling();
    // Waits until the server has seen everything sent so far (a round trip); false when
    // it does not answer within the time given.
    bool flush(std::chrono::milliseconds within);

    bool connected() const noexcept { return up_.load(std::memory_order_acquire); }
    // Publishes refused or lost since the start.
    std::uint64_t dropped() const noexcept { return dropped_.load(std::memory_order_relaxed); }

private:
    struct subscription;
    struct puller;
    struct outgoing {
        std::string subject;
        std::string data;
    };

    static void on_connected(natsConnection* nc, void* closure);
    static void on_disconnected(natsConnection* nc, void* closure);
    static void on_reconnected(natsConnection* nc, void* closure);
    static void on_closed(natsConnection* nc, void* closure);
    static void on_subscription_done(void* closure);

    natsOptions* make_options();
    void report(bus_status s);
    void came_up();
    void callbacks_ended();
    void send_queued();
    void send_batch(std::deque<outgoing>& batch);
    void send_one(const std::string& subject, const std::string& data);
    void close_and_wait();

    const bus_options options_;
    const sink events_;
    const std::shared_ptr<const status_handler> status_;
    natsOptions* nats_options_ = nullptr; // owned; used by the library until the connection is destroyed
    natsConnection* conn_ = nullptr;      // owned; the library's own locking makes it safe from any thread
    std::atomic<bool> up_{false};
    std::atomic<bool> joined_{false};  // the first connection was reported
    std::atomic<bool> closing_{false}; // the destructor runs: status changes go unreported
    std::atomic<std::uint64_t> dropped_{0};

    qs::mutex lock_;
    std::condition_variable queued_; // a publish was queued, or the bus is closing
    std::deque<outgoing> queue_ GUARDED_BY(lock_);
    std::size_t queued_bytes_ GUARDED_BY(lock_) = 0;
    bool stopping_ GUARDED_BY(lock_) = false; // the publisher thread sends what is left and ends

    qs::mutex callbacks_lock_;
    std::condition_variable callbacks_done_;
    // The connection's closed callback and each subscription's completion, still to come.
    int callbacks_open_ GUARDED_BY(callbacks_lock_) = 1;
    std::vector<std::unique_ptr<subscription>> subscriptions_ GUARDED_BY(callbacks_lock_);

    qs::mutex pullers_lock_;
    std::vector<std::unique_ptr<puller>> pullers_ GUARDED_BY(pullers_lock_);

    std::thread publisher_; // last: starts once the rest exists
};

} // namespace qs::cluster
