#include "qs/cluster/bus.h"

#include <nats/nats.h>

#include <algorithm>

#include "qs/cluster/bus_frames.h"

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
        std::vector<std::string> parts;
        split_frames({natsMsg_GetData(msg), static_cast<std::size_t>(natsMsg_GetDataLength(msg))}, parts);
        natsMsg_Destroy(msg);
        self->to([h = self->handler, subject = std::move(subject), parts = std::move(parts)] {
            for (const auto& data : parts)
                (*h)(subject, data);
        });
    }
};

// A pulled subscription and its thread, which stop_pulling() ends: it unsubscribes,
// which wakes the thread if it waits for a message, and joins it.
struct bus::puller {
    batch_handler handler;
    natsSubscription* handle = nullptr;
    std::atomic<bool> stopping{false};
    std::thread thread;

    // A message is destroyed only once its batch was handled: destroying it wakes the
    // library's collector thread, which need not come before the handler.
    void run()
    {
        std::vector<std::string> parts;
        std::vector<natsMsg*> msgs;
        while (!stopping.load(std::memory_order_acquire)) {
            natsMsg* msg = nullptr;
            const natsStatus s = natsSubscription_NextMsg(&msg, handle, wake_every.count());
            if (s == NATS_TIMEOUT || s == NATS_SLOW_CONSUMER)
                continue;
            if (s != NATS_OK)
                return; // unsubscribed, or the connection closed
            do
                msgs.push_back(msg);
            while (natsSubscription_NextMsg(&msg, handle, 0) == NATS_OK); // what came meanwhile joins
            parts.clear();
            for (natsMsg* m : msgs)
                split_frames({natsMsg_GetData(m), static_cast<std::size_t>(natsMsg_GetDataLength(m))}, parts);
            handler(parts);
            for (natsMsg* m : msgs)
                natsMsg_Destroy(m);
            msgs.clear();
        }
    }

    static constexpr std::chrono::milliseconds wake_every{250}; // to see stopping, should no wake come
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
    if (s == NATS_OK) // on_connected is only called for a connection made later
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
    stop_pulling();
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
            // Woken by the first publish of a burst: its publisher, on the other core or
            // this one, adds the rest meanwhile, and the burst leaves as one batch.
            guard.unlock();
            std::this_thread::yield();
            guard.lock();
            continue;
        }
        std::deque<outgoing> batch;
        batch.swap(queue_);
        queued_bytes_ = 0;
        guard.unlock();
        send_batch(batch);
        guard.lock();
    }
}

// One NATS message per subject, up to batch_limit bytes each; a subject's messages
// leave in the order they were published.
void bus::send_batch(std::deque<outgoing>& batch)
{
    std::vector<outgoing> framed; // by the subject's first appearance
    for (auto& m : batch) {
        auto it = std::find_if(framed.begin(), framed.end(), [&](const outgoing& f) { return f.subject == m.subject; });
        if (it != framed.end() && it->data.size() + m.data.size() + 4 > options_.batch_limit) {
            send_one(it->subject, it->data);
            it->data.clear();
        }
        if (it == framed.end())
            it = framed.insert(framed.end(), {std::move(m.subject), {}});
        append_frame(it->data, m.data);
    }
    for (const auto& f : framed)
        if (!f.data.empty())
            send_one(f.subject, f.data);
}

void bus::send_one(const std::string& subject, const std::string& data)
{
    const natsStatus s = natsConnection_Publish(conn_, subject.c_str(), data.data(), static_cast<int>(data.size()));
    if (s != NATS_OK)
        dropped_.fetch_add(1, std::memory_order_relaxed);
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

// No limit on what waits in the library: the handler may wait on a database for a
// while, and a message dropped there would be waited for in vain.
void bus::pull(const std::string& subject, batch_handler handler)
{
    auto p = std::make_unique<puller>();
    p->handler = std::move(handler);
    check(natsConnection_SubscribeSync(&p->handle, conn_, subject.c_str()), "subscribing to " + subject);
    const natsStatus s = natsSubscription_SetPendingLimits(p->handle, -1, -1);
    if (s != NATS_OK) {
        natsSubscription_Destroy(p->handle);
        check(s, "subscribing to " + subject);
    }
    p->thread = std::thread([raw = p.get()] { raw->run(); });
    qs::lock_guard guard(pullers_lock_);
    pullers_.push_back(std::move(p));
}

void bus::stop_pulling()
{
    std::vector<std::unique_ptr<puller>> pullers;
    {
        qs::lock_guard guard(pullers_lock_);
        pullers.swap(pullers_);
    }
    for (auto& p : pullers) {
        p->stopping.store(true, std::memory_order_release);
        natsSubscription_Unsubscribe(p->handle);
    }
    for (auto& p : pullers) {
        p->thread.join();
        natsSubscription_Destroy(p->handle);
    }
}

bool bus::flush(std::chrono::milliseconds within)
{
    return natsConnection_FlushTimeout(conn_, within.count()) == NATS_OK;
}

} // namespace qs::cluster
