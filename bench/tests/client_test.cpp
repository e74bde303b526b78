#include <algorithm>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

#include "bench_error.h"
#include "fake_server.h"
#include "client.h"
#include "pipelined_sender.h"
#include "tcp_pair.h"

namespace qsb {
namespace {

using test::listener;

// Reads n requests, then answers the first `answered` of them last first, one byte per
// send, and closes.
void answer_backwards(const listener& l, int n, int answered)
{
    const int fd = l.accept_one();
    qs::frame_splitter in;
    std::vector<qs::frame> got;
    qs::frame f;
    while (static_cast<int>(got.size()) < n && read_frame(fd, in, f))
        got.push_back(f);
    std::string out;
    got.resize(std::min<std::size_t>(got.size(), static_cast<std::size_t>(answered)));
    for (auto it = got.rbegin(); it != got.rend(); ++it)
        qs::append_frame(out, it->cid, "re:" + it->text);
    for (char c : out)
        send_all(fd, std::string_view(&c, 1));
    ::close(fd);
}

TEST(Client, RepliesInAnyOrderReachTheirOwnRequests)
{
    listener l;
    std::thread server(answer_backwards, std::cref(l), 20, 20);
    event_loop loop;
    client c(loop, l.where());
    c.open();
    std::vector<std::string> replies(20);
    for (std::size_t i = 0; i < 20; ++i)
        c.queue("ver " + std::to_string(i), [&replies, i](const std::string& r) { replies[i] = r; });
    c.flush();
    EXPECT_TRUE(loop.run_until([&] { return c.awaiting() == 0; }, after_seconds(10)));
    server.join();
    for (std::size_t i = 0; i < 20; ++i)
        EXPECT_EQ(replies[i], "re:ver " + std::to_string(i));
}

TEST(Client, TheServerClosingIsReportedOnceAndDropsWhatIsUnanswered)
{
    listener l;
    std::thread server(answer_backwards, std::cref(l), 3, 2);
    event_loop loop;
    client c(loop, l.where());
    int errors = 0, answered = 0;
    c.on_error([&](const std::string&) { ++errors; });
    c.open();
    for (int i = 0; i < 3; ++i)
        c.request("ver", [&](const std::string&) { ++answered; });
    EXPECT_TRUE(loop.run_until([&] { return errors > 0; }, after_seconds(10)));
    server.join();
    EXPECT_EQ(answered, 2);
    EXPECT_EQ(errors, 1);
    EXPECT_FALSE(c.is_open());
    EXPECT_EQ(c.awaiting(), 0u);
}

TEST(Client, ARefusedConnectionIsAnError)
{
    endpoint closed;
    {
        listener l;
        closed = l.where();
    }
    event_loop loop;
    client c(loop, closed);
    std::string why;
    c.on_error([&](const std::string& w) { why = w; });
    try {
        c.open();
        loop.run_until([&] { return !why.empty(); }, after_seconds(10));
    } catch (const bench_error& e) {
        why = e.what();
    }
    EXPECT_NE(why.find("refused"), std::string::npos) << why;
}

TEST(PipelinedSender, KeepsAtMostTheWindowInWholeBatches)
{
    listener l; // never answers
    event_loop loop;
    client c(loop, l.where());
    c.open();
    send_tally tally;
    std::uint64_t next = 0;
    pipelined_sender s(
        c, 0, 10, 4,
        [&]() -> std::optional<outgoing> {
            return outgoing{"bob", next++};
        },
        tally);
    s.top_up();
    EXPECT_EQ(c.awaiting(), 8u); // two batches of 4; a third does not fit
    EXPECT_EQ(tally.sent_count, 8);
    s.top_up();
    EXPECT_EQ(c.awaiting(), 8u);
}

TEST(PipelinedSender, StopsWhenTheSourceRunsDry)
{
    listener l;
    event_loop loop;
    client c(loop, l.where());
    c.open();
    send_tally tally;
    std::uint64_t next = 0;
    pipelined_sender s(
        c, 0, 64, 1,
        [&]() -> std::optional<outgoing> {
            return next < 5 ? std::optional(outgoing{"bob", next++}) : std::nullopt;
        },
        tally);
    s.top_up();
    EXPECT_EQ(c.awaiting(), 5u);
    EXPECT_FALSE(s.idle()); // five still unanswered
}

} // namespace
} // namespace qsb
