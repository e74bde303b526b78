// The cluster bus against real nats-server processes: messages between connections,
// handlers on the loop they were given, a server that goes and comes back, a server
// that comes up after the bus, and two servers joined by a route.
#include <gtest/gtest.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "nats_server.h"
#include "qs/cluster/asio_sink.h"
#include "qs/cluster/bus.h"
#include "qs/cluster/bus_frames.h"

namespace qs::test {
namespace {

using cluster::bus;
using cluster::bus_status;
using namespace std::chrono_literals;

constexpr auto bound = 20s; // the longest wait for an event before a test fails

// An Asio event loop on a thread of its own.
class loop_thread {
public:
    loop_thread() : thread_([this] { io_.run(); }) {}
    ~loop_thread()
    {
        work_.reset();
        thread_.join();
    }
    cluster::sink sink() { return cluster::post_to(io_.get_executor()); }
    std::thread::id id() const { return thread_.get_id(); }

private:
    boost::asio::io_context io_;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_{io_.get_executor()};
    std::thread thread_;
};

// What a bus handed to its loop: statuses and messages, with the threads they ran on.
class heard {
public:
    bus::status_handler on_status()
    {
        return [this](bus_status s) {
            std::lock_guard guard(lock_);
            statuses_.push_back(s);
            threads_.push_back(std::this_thread::get_id());
            changed_.notify_all();
        };
    }
    bus::message_handler on_message()
    {
        return [this](const std::string& subject, const std::string& data) {
            std::lock_guard guard(lock_);
            messages_.push_back(subject + " " + data);
            threads_.push_back(std::this_thread::get_id());
            changed_.notify_all();
        };
    }
    // Waits until the statuses heard are those given.
    bool statuses_become(const std::vector<bus_status>& expected)
    {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, bound, [&] { return statuses_ == expected; });
    }
    bool message_count_reaches(std::size_t n)
    {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, bound, [&] { return messages_.size() >= n; });
    }
    std::vector<std::string> messages()
    {
        std::lock_guard guard(lock_);
        return messages_;
    }
    std::vector<bus_status> statuses()
    {
        std::lock_guard guard(lock_);
        return statuses_;
    }
    bool all_on(std::thread::id loop)
    {
        std::lock_guard guard(lock_);
        return std::all_of(threads_.begin(), threads_.end(), [&](auto id) { return id == loop; });
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<bus_status> statuses_;
    std::vector<std::string> messages_;
    std::vector<std::thread::id> threads_;
};

cluster::bus_options options_for(const std::string& url)
{
    cluster::bus_options o;
    o.urls = {url};
    o.name = "test";
    o.reconnect_wait = 100ms;
    return o;
}

// A bus with its loop and what it heard.
struct node {
    explicit node(const std::string& url) : b(options_for(url), loop.sink(), log.on_status()) {}
    void subscribe(const std::string& subject) { b.subscribe(subject, loop.sink(), log.on_message()); }

    loop_thread loop;
    heard log;
    bus b;
};

TEST(ClusterBus, MessagesCrossBetweenConnectionsAndHandlersRunOnTheGivenLoop)
{
    nats_server server;
    node a(server.url()), b(server.url());
    b.subscribe("qs.node.>");
    ASSERT_TRUE(b.b.flush(5s)); // the server has the subscription
    EXPECT_TRUE(a.b.connected());

    ASSERT_TRUE(a.b.publish("qs.node.b", "one"));
    ASSERT_TRUE(a.b.publish("qs.other", "not for b"));
    ASSERT_TRUE(a.b.publish("qs.node.b.deep", std::string("two\0bytes", 9)));
    ASSERT_TRUE(b.log.message_count_reaches(2));
    EXPECT_EQ(b.log.messages(),
              (std::vector<std::string>{"qs.node.b one", "qs.node.b.deep " + std::string("two\0bytes", 9)}));
    EXPECT_TRUE(a.log.statuses_become({bus_status::joined}));
    EXPECT_TRUE(b.log.statuses_become({bus_status::joined}));
    EXPECT_TRUE(b.log.all_on(b.loop.id())) << "a handler ran off its loop";
    EXPECT_EQ(a.b.dropped(), 0u);
}

TEST(ClusterBus, AServerThatGoesAndComesBackIsReportedOnceEachAndCarriesMessagesAgain)
{
    nats_server server;
    node a(server.url()), b(server.url());
    b.subscribe("qs.x");
    ASSERT_TRUE(a.log.statuses_become({bus_status::joined}));
    ASSERT_TRUE(b.log.statuses_become({bus_status::joined}));

    server.kill();
    ASSERT_TRUE(a.log.statuses_become({bus_status::joined, bus_status::gone}));
    ASSERT_TRUE(b.log.statuses_become({bus_status::joined, bus_status::gone}));
    EXPECT_FALSE(a.b.connected());

    server.restart();
    ASSERT_TRUE(a.log.statuses_become({bus_status::joined, bus_status::gone, bus_status::back}));
    ASSERT_TRUE(b.log.statuses_become({bus_status::joined, bus_status::gone, bus_status::back}));
    ASSERT_TRUE(b.b.flush(5s)); // the subscription is back on the server
    ASSERT_TRUE(a.b.publish("qs.x", "after"));
    ASSERT_TRUE(b.log.message_count_reaches(1));
    EXPECT_EQ(b.log.messages(), std::vector<std::string>{"qs.x after"});
    EXPECT_TRUE(a.log.all_on(a.loop.id()));
    EXPECT_TRUE(b.log.all_on(b.loop.id()));
}

TEST(ClusterBus, ABusStartedBeforeItsServerJoinsWhenTheServerComesUp)
{
    nats_server server;
    server.kill(); // its port, with nothing listening
    node late(server.url());
    EXPECT_FALSE(late.b.connected());
    late.subscribe("qs.late");
    ASSERT_TRUE(late.b.publish("qs.late", "queued while down"));

    server.restart();
    ASSERT_TRUE(late.log.statuses_become({bus_status::joined}));
    ASSERT_TRUE(late.log.message_count_reaches(1)) << "the subscription and the publish wait for the server";
    node other(server.url());
    ASSERT_TRUE(late.b.flush(5s));
    ASSERT_TRUE(other.b.publish("qs.late", "from another"));
    ASSERT_TRUE(late.log.message_count_reaches(2));
    EXPECT_EQ(late.log.messages(), (std::vector<std::string>{"qs.late queued while down", "qs.late from another"}));
}

TEST(ClusterBus, ServersJoinedByARouteCarryMessagesBetweenTheirClients)
{
    nats_server seed;
    nats_server second(nats_server::joined_to{seed});
    node a(seed.url()), b(second.url());
    b.subscribe("qs.routed");
    ASSERT_TRUE(b.b.flush(5s));
    // The route carries the subscription to the seed in its own time: publish until it has.
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (int i = 0; b.log.messages().empty() && std::chrono::steady_clock::now() < deadline; ++i) {
        ASSERT_TRUE(a.b.publish("qs.routed", std::to_string(i)));
        a.b.flush(5s);
    }
    ASSERT_FALSE(b.log.messages().empty());
}

// Publishes made while the publisher thread is busy leave as few NATS messages: the
// puller gets them back in batches, every one once and in order, on its own thread.
TEST(ClusterBus, APulledSubscriptionGetsEveryPublishInOrderOnItsOwnThreadUntilItStops)
{
    nats_server server;
    node a(server.url()), b(server.url());
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::string> got;
    std::set<std::thread::id> threads;
    b.b.pull("qs.pulled", [&](const std::vector<std::string>& payloads) {
        std::lock_guard guard(lock);
        got.insert(got.end(), payloads.begin(), payloads.end());
        threads.insert(std::this_thread::get_id());
        changed.notify_all();
    });
    ASSERT_TRUE(b.b.flush(5s));
    constexpr int count = 5000;
    for (int i = 0; i < count; ++i)
        ASSERT_TRUE(a.b.publish("qs.pulled", std::to_string(i)));
    {
        std::unique_lock guard(lock);
        ASSERT_TRUE(changed.wait_for(guard, bound, [&] { return got.size() >= count; }));
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(got[static_cast<std::size_t>(i)], std::to_string(i));
        EXPECT_EQ(threads.size(), 1u);
        EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
    }
    b.b.stop_pulling();
    ASSERT_TRUE(a.b.publish("qs.pulled", "after the stop"));
    ASSERT_TRUE(a.b.flush(5s));
    ASSERT_TRUE(b.b.flush(5s));
    std::lock_guard guard(lock);
    EXPECT_EQ(got.size(), static_cast<std::size_t>(count));
}

TEST(ClusterBusFrames, PayloadsComeBackAsTheyWentAndACutBatchIsRefused)
{
    std::string batch;
    const std::vector<std::string> payloads{"", "one", std::string(70000, 'x'), std::string("\0\xff", 2)};
    for (const auto& p : payloads)
        cluster::append_frame(batch, p);
    std::vector<std::string> parts;
    ASSERT_TRUE(cluster::split_frames(batch, parts));
    EXPECT_EQ(parts, payloads);
    for (std::size_t cut : {std::size_t{2}, std::size_t{6}, batch.size() - 1}) {
        parts.clear();
        EXPECT_FALSE(cluster::split_frames(std::string_view(batch).substr(0, cut), parts)) << cut;
    }
}

} // namespace
} // namespace qs::test
