#include <cmath>
#include <gtest/gtest.h>
#include <vector>

#include "bench_error.h"
#include "bounded_jobs.h"
#include "endpoint.h"
#include "event_loop.h"
#include "latency.h"
#include "options.h"

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
    log.add(0);  // added after sorting
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
