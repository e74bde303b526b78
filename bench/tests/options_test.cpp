#include <cmath>
#include <gtest/gtest.h>
#include <vector>

#include "bench_error.h"
#include "bounded_jobs.h"
#include "endpoint.h"
#include "event_loop.h"
#include "latency.h"
#include "options.h"
#include "run_context.h"

namespace qsb {
namespace {

options parse(std::vector<const char*> args)
{
    args.insert(args.begin(), "qsbench");
    return parse_options(static_cast<int>(args.size()), const_cast<char**>(args.data()));
}

TEST(Options, ValuesAreTaken)
{
    const options o = parse({"dm", "--port", "7000", "--pairs", "3", "--duration", "0.5", "--prefix", "x1"});
    EXPECT_EQ(o.workload, "dm");
    EXPECT_EQ(o.port, 7000);
    EXPECT_EQ(o.pairs, 3);
    EXPECT_DOUBLE_EQ(o.duration, 0.5);
    EXPECT_EQ(o.prefix, "x1");
    EXPECT_FALSE(o.tls);
    EXPECT_TRUE(parse({"latency", "--tls", "--port", "7443"}).tls) << "a flag without a value";
}

TEST(Options, BadValuesAreRefused)
{
    EXPECT_THROW(parse({"dm", "--port", "70000"}), bench_error);
    EXPECT_THROW(parse({"dm", "--pairs", "0"}), bench_error);
    EXPECT_THROW(parse({"dm", "--pairs", "3x"}), bench_error);
    EXPECT_THROW(parse({"dm", "--nope", "1"}), bench_error);
    EXPECT_THROW(parse({"dm", "--count"}), bench_error);
    EXPECT_THROW(parse({"dm", "login"}), bench_error);
    EXPECT_THROW(parse({"dm", "--prefix", "a b"}), bench_error);
}

TEST(Options, VerLoopsOnlyForLogin)
{
    EXPECT_TRUE(parse({"login", "--with-ver", "--port", "7000"}).with_ver) << "a flag without a value";
    EXPECT_FALSE(parse({"login", "--port", "7000"}).with_ver);
    EXPECT_TRUE(parse({"--with-ver", "login"}).with_ver) << "before the workload too";
    for (const char* workload : {"offline", "dm", "latency", "idle", "loopback"})
        EXPECT_THROW(parse({workload, "--with-ver"}), bench_error) << workload;
}

TEST(Options, ReceiversElsewhereOnlyForTheDirectMessageWorkloads)
{
    const options o = parse({"dm", "--port", "7000", "--receiver-port", "7001", "--receiver-host", "127.0.0.2"});
    EXPECT_EQ(o.receiver_port, 7001);
    EXPECT_EQ(o.receiver_host, "127.0.0.2");
    EXPECT_TRUE(receivers_apart(o));
    EXPECT_FALSE(receivers_apart(parse({"dm", "--port", "7000"})));
    EXPECT_TRUE(receivers_apart(parse({"latency", "--ws", "--receiver-port", "7001"})));
    EXPECT_TRUE(receivers_apart(parse({"latency", "--receiver-host", "127.0.0.2"})));

    EXPECT_THROW(parse({"dm", "--receiver-port", "0"}), bench_error);
    EXPECT_THROW(parse({"dm", "--receiver-port", "65536"}), bench_error);
    EXPECT_THROW(parse({"dm", "--receiver-port"}), bench_error);
    EXPECT_THROW(parse({"dm", "--receiver-host", "a b"}), bench_error);
    for (const char* workload : {"login", "offline", "idle", "loopback"}) {
        EXPECT_THROW(parse({workload, "--receiver-port", "7001"}), bench_error) << workload;
        EXPECT_THROW(parse({"--receiver-host", "127.0.0.2", workload}), bench_error) << workload;
    }
}

TEST(Endpoint, ReceiversDefaultToTheSendersServer)
{
    options o = parse({"dm", "--host", "127.0.0.3", "--port", "7000", "--tls", "--ws"});
    const run_context same(o);
    EXPECT_EQ(describe(same.receiver_server), "127.0.0.3:7000");

    o.receiver_port = 7001;
    const run_context port_only(o);
    EXPECT_EQ(describe(port_only.server), "127.0.0.3:7000");
    EXPECT_EQ(describe(port_only.receiver_server), "127.0.0.3:7001");
    EXPECT_TRUE(port_only.receiver_server.tls && port_only.receiver_server.ws) << "the same transport on both";

    o.receiver_host = "127.0.0.4";
    EXPECT_EQ(describe(run_context(o).receiver_server), "127.0.0.4:7001");
    o.receiver_host = "10.0.0.1";
    try {
        run_context refused(o);
        ADD_FAILURE() << "a receiver host off the loopback network was taken";
    } catch (const bench_error& e) {
        EXPECT_NE(std::string(e.what()).find("--receiver-host"), std::string::npos) << e.what();
    }
}

TEST(Endpoint, OnlyLoopbackAddressesAreTargets)
{
    EXPECT_NO_THROW(loopback_endpoint("127.0.0.1", 7000));
    EXPECT_NO_THROW(loopback_endpoint("127.1.2.3", 7000));
    for (const char* host : {"10.0.0.1", "192.168.1.1", "0.0.0.0", "localhost", "128.0.0.1"})
        EXPECT_THROW(loopback_endpoint(host, 7000), bench_error) << host;
}

TEST(Latency, PercentilesAreNearestRank)
{
    latency_log log;
    EXPECT_TRUE(std::isnan(log.percentile_us(0.5)));
    for (int i = 100; i >= 1; --i)
        log.add(i * 1000);
    EXPECT_DOUBLE_EQ(log.percentile_us(0.5), 50);
    EXPECT_DOUBLE_EQ(log.percentile_us(0.99), 99);
    EXPECT_DOUBLE_EQ(log.percentile_us(1.0), 100);
    EXPECT_DOUBLE_EQ(log.mean_us(), 50.5);
    log.add(0); // added after sorting
    EXPECT_DOUBLE_EQ(log.percentile_us(0.0), 0);
}

TEST(BoundedJobs, NeverMoreThanTheLimitUnfinished)
{
    std::vector<std::function<void()>> running;
    std::size_t most = 0;
    bounded_jobs jobs(10, 3, [&](std::size_t, std::function<void()> finished) {
        running.push_back(std::move(finished));
        most = std::max(most, running.size());
    });
    jobs.start();
    for (int guard = 0; guard < 100 && !running.empty(); ++guard) {
        auto finish = std::move(running.front());
        running.erase(running.begin());
        finish();
    }
    EXPECT_TRUE(jobs.all_done());
    EXPECT_EQ(most, 3u);
}

TEST(EventLoop, ReturnsAtTheDeadlineWhenNothingHappens)
{
    event_loop loop;
    const auto start = bench_clock::now();
    EXPECT_FALSE(loop.run_until([] { return false; }, after_seconds(0.05)));
    EXPECT_GE(seconds_since(start), 0.05);
    EXPECT_TRUE(loop.run_until([] { return true; }, after_seconds(10)));
}

} // namespace
} // namespace qsb
