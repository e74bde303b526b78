#include "qs/cluster/bus.h"

#include <nats/nats.h>

namespace qs::cluster {

namespace {

void check(natsStatus s, const std::string& what)
{
    if (s != NATS_OK)
        throw bus_error(what + ": " + natsStatus_GetText(s));
}

} // namespace

// Owned by the bus; the library calls on_message with it until on_subscription_done.
struct bus::subscription {
    bus* owner;
    sink to;
    std::shared_ptr<const message_handler> handler;
    natsSubscription* handle = nullptr;

    // On the subscription's NATS thread: copies the message out and posts it.
    static void on_message(natsConnection*, natsSubscription*, natsMsg* msg, void* closure)
    {
        auto* self = static_cast<subscription*>(closure);
        std::string subject = natsMsg_GetSubject(msg);
        std::string data(natsMsg_GetData(msg), static_cast<std::size_t>(natsMsg_GetDataLength(msg)));
        natsMsg_Destroy(msg);
        self->to([h = self->handler, subject = std::move(subject), data = std::move(data)] { (*h)(subject, data); });
    }
};

bus::bus(bus_options options, sink events, status_handler status)
    : options_(std::move(options)), events_(std::move(events)),
      status_(std::make_shared<const status_handler>(std::move(status)))
{
    if (options_.urls.empty())
        throw bus_error("no NATS server address");
    nats_options_ = make_options();
    const natsStatus s = natsConnection_Connect(&conn_, nats_options_);
    if (s != NATS_OK && s != NATS_NOT_YET_CONNECTED) {
        natsOptions_Destroy(nats_options_);
        check(s, "connecting to NATS");
    }
    if (s == NATS_OK)  // on_connected is only called for a connection made later
        came_up();
    publisher_ = std::thread([this] { send_queued(); });
}

// Reconnects for ever; the first connect is retried the same way when it fails.
natsOptions* bus::make_options()
{
    natsOptions* o = nullptr;
    check(natsOptions_Create(&o), "creating NATS options");
    std::vector<const char*> urls;
    for (const auto& u : options_.urls)
        urls.push_back(u.c_str());
    try {
        check(natsOptions_SetServers(o, urls.data(), static_cast<int>(urls.size())), "NATS server list");
        if (!options_.name.empty())
            check(natsOptions_SetName(o, options_.name.c_str()), "NATS connection name");
        // The publisher thread already sends in batches: the library's flusher would hold
        // each publish up to a millisecond more.
        check(natsOptions_SetSendAsap(o, true), "NATS send at once");
        check(natsOptions_SetMaxReconnect(o, -1), "NATS reconnection");
        check(natsOptions_SetReconnectWait(o, options_.reconnect_wait.count()), "NATS reconnection wait");
        check(natsOptions_SetRetryOnFailedConnect(o, true, &bus::on_connected, this), "NATS connect retry");
        check(natsOptions_SetDisconnectedCB(o, &bus::on_disconnected, this), "NATS callbacks");
        check(natsOptions_SetReconnectedCB(o, &bus::on_reconnected, this), "NATS callbacks");
        check(natsOptions_SetClosedCB(o, &bus::on_closed, this), "NATS callbacks");
    } catch (...) {
        natsOptions_Destroy(o);
        throw;
    }
    return o;
}

bus::~bus()
{
    {
        qs::lock_guard guard(lock_);
        stopping_ = true;
    }
    queued_.notify_all();
    publisher_.join();
    close_and_wait();
    std::vector<std::unique_ptr<subscription>> subs;
    {
        qs::lock_guard guard(callbacks_lock_);
        subs.swap(subscriptions_);
    }
    for (auto& s : subs)
        natsSubscription_Destroy(s->handle);
    natsConnection_Destroy(conn_);
    natsOptions_Destroy(nats_options_);
}

// After the closed callback and every subscription's completion, NATS calls nothing
// of this bus: the async callback thread runs the closed callback last.
void bus::close_and_wait()
{
    closing_.store(true, std::memory_order_release);
    natsConnection_Close(conn_);
    qs::unique_lock guard(callbacks_lock_);
    while (callbacks_open_ > 0)
        guard.wait(callbacks_done_);
}

// Notifies under the lock: the destructor, once it sees the count at 0, destroys the
// condition variable, which a notify after the unlock could still be using.
void bus::callbacks_ended()
{
    qs::lock_guard guard(callbacks_lock_);
    --callbacks_open_;
    callbacks_done_.notify_all();
}

void bus::report(bus_status s)
{
    if (closing_.load(std::memory_order_acquire))
        return;
    events_([h = status_, s] { (*h)(s); });
}

void bus::came_up()
{
    if (up_.exchange(true, std::memory_order_acq_rel))
        return;
    report(joined_.exchange(true) ? bus_status::back : bus_status::joined);
}

void bus::on_connected(natsConnection*, void* closure)
{
    static_cast<bus*>(closure)->came_up();
}

void bus::on_reconnected(natsConnection*, void* closure)
{
    static_cast<bus*>(closure)->came_up();
}

void bus::on_disconnected(natsConnection*, void* closure)
{
    auto* self = static_cast<bus*>(closure);
    if (self->up_.exchange(false, std::memory_order_acq_rel))
        self->report(bus_status::gone);
}

void bus::on_closed(natsConnection*, void* closure)
{
    static_cast<bus*>(closure)->callbacks_ended();
}

void bus::on_subscription_done(void* closure)
{
    static_cast<subscription*>(closure)->owner->callbacks_ended();
}

bool bus::publish(std::string subject, std::string data)
{
    const std::size_t size = subject.size() + data.size();
    {
        qs::lock_guard guard(lock_);
        if (stopping_ || queued_bytes_ + size > options_.queue_limit) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        queued_bytes_ += size;
        queue_.push_back({std::move(subject), std::move(data)});
    }
    queued_.notify_one();
    return true;
}

// The publisher thread: takes the queue whole and hands it to the library, without the
// lock (the library may wait on the socket).
void bus::send_queued()
{
    qs::unique_lock guard(lock_);
    for (;;) {
        if (queue_.empty()) {
            if (stopping_)
                return;
            guard.wait(queued_);
            continue;
        }
        std::deque<outgoing> batch;
        batch.swap(queue_);
        queued_bytes_ = 0;
        guard.unlock();
        for (const auto& m : batch) {
            const natsStatus s = natsConnection_Publish(conn_, m.subject.c_str(), m.data.data(),
                                                        static_cast<int>(m.data.size()));
            if (s != NATS_OK)
                dropped_.fetch_add(1, std::memory_order_relaxed);
        }
        guard.lock();
    }
}

// The completion callback is set before the subscription counts: once set, it is sure
// to come when the connection closes.
void bus::subscribe(const std::string& subject, sink to, message_handler handler)
{
    auto sub = std::make_unique<subscription>(
        subscription{this, std::move(to), std::make_shared<const message_handler>(std::move(handler))});
    check(natsConnection_Subscribe(&sub->handle, conn_, subject.c_str(), &subscription::on_message, sub.get()),
          "subscribing to " + subject);
    const natsStatus s = natsSubscription_SetOnCompleteCB(sub->handle, &bus::on_subscription_done, sub.get());
    if (s != NATS_OK) {
        natsSubscription_Unsubscribe(sub->handle);
        natsSubscription_Destroy(sub->handle);
        check(s, "subscribing to " + subject);
    }
    qs::lock_guard guard(callbacks_lock_);
    ++callbacks_open_;
    subscriptions_.push_back(std::move(sub));
}

bool bus::flush(std::chrono::milliseconds within)
{
    return natsConnection_FlushTimeout(conn_, within.count()) == NATS_OK;
}

} // namespace qs::cluster
