// loopback: the machine's own TCP figures over 127.0.0.1, with no server.
#include <functional>
#include <thread>

#include "bench_error.h"
#include "latency.h"
#include "message_text.h"
#include "tcp_pair.h"
#include "workloads.h"

namespace qsb {

namespace {

// Runs peer(fd b) on a second thread while here(fd a) runs on this one; whatever
// happens, both sockets are shut down and the thread joined before returning.
void run_both(tcp_pair& p, const std::function<void(int)>& here, const std::function<void(int)>& peer)
{
    std::string peer_error;
    std::thread t([&] {
        try {
            peer(p.b());
        } catch (const std::exception& e) {
            peer_error = e.what();
        }
    });
    try {
        here(p.a());
    } catch (...) {
        p.shut_down();
        t.join();
        throw;
    }
    t.join();
    if (!peer_error.empty())
        throw bench_error(peer_error);
}

std::string frame_bytes(std::uint64_t i)
{
    std::string out;
    qs::append_frame(out, static_cast<std::int32_t>(i & 0x7fffffff), compose({0, i, now_ns()}));
    return out;
}

// Round trips of one small frame, echoed back by the peer.
latency_log ping_pong(long rounds, bench_clock::time_point stop, double timeout_s)
{
    tcp_pair p(timeout_s);
    latency_log rtt;
    auto echo = [](int fd) {
        qs::frame_splitter in;
        qs::frame f;
        std::string out;
        while (read_frame(fd, in, f)) {
            out.clear();
            qs::append_frame(out, f.cid, f.text);
            send_all(fd, out);
        }
    };
    auto ping = [&](int fd) {
        qs::frame_splitter in;
        qs::frame f;
        for (long i = 0; i < rounds && bench_clock::now() < stop; ++i) {
            const std::int64_t t = now_ns();
            send_all(fd, frame_bytes(static_cast<std::uint64_t>(i)));
            if (!read_frame(fd, in, f))
                throw bench_error("loopback echo closed early");
            rtt.add(now_ns() - t);
        }
        ::shutdown(fd, SHUT_WR);
    };
    run_both(p, ping, echo);
    return rtt;
}

struct one_way_result {
    long long frames = 0;
    double seconds = 0;
};

// The peer writes one frame per send; this thread reads and counts them.
one_way_result one_way(long count, bench_clock::time_point stop, double timeout_s)
{
    tcp_pair p(timeout_s);
    one_way_result r;
    auto writer = [&](int fd) {
        for (long i = 0; i < count && bench_clock::now() < stop; ++i)
            send_all(fd, frame_bytes(static_cast<std::uint64_t>(i)));
        ::shutdown(fd, SHUT_WR);
    };
    auto reader = [&](int fd) {
        qs::frame_splitter in;
        qs::frame f;
        const auto start = bench_clock::now();
        while (read_frame(fd, in, f))
            ++r.frames;
        r.seconds = seconds_since(start);
    };
    run_both(p, reader, writer);
    return r;
}

} // namespace

json_line run_loopback(const options& opt)
{
    const long count = count_or(opt, 100000);
    const long rounds = count / 10 > 0 ? count / 10 : 1;
    latency_log rtt = ping_pong(rounds, after_seconds(opt.duration / 2), opt.drain);
    const one_way_result flow = one_way(count, after_seconds(opt.duration / 2), opt.drain);

    json_line out;
    out.add("workload", "loopback").add("count", static_cast<long long>(count));
    out.add("round_trips", static_cast<long long>(rtt.size()));
    rtt.report(out, "rtt");
    out.add("one_way_frames", flow.frames).add("one_way_s", flow.seconds);
    out.add("one_way_per_s", static_cast<double>(flow.frames) / flow.seconds);
    return out;
}

} // namespace qsb
