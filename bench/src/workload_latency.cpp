// latency: one pair, one message in flight.
#include "accounts.h"
#include "latency.h"
#include "mailbox_fetch.h"
#include "select_receiver.h"
#include "send_tally.h"
#include "workloads.h"

namespace qsb {

namespace {

// Sends the next message once the last one is both answered and delivered.
class ping_pair {
public:
    ping_pair(run_context& ctx, client& sender, client& receiver, std::string to, long count)
        : sender_(sender), to_(std::move(to)), count_(count),
          waiting_(ctx, receiver, [this](const bench_message& m, std::int64_t at) { arrived(m, at); })
    {
    }

    void start(bench_clock::time_point stop)
    {
        stop_ = stop;
        waiting_.start();
        send_next();
    }

    bool finished() const { return finished_; }
    send_tally& tally() { return tally_; }
    latency_log& latency() { return latency_; }

private:
    void send_next()
    {
        if (next_ >= static_cast<std::uint64_t>(count_) || bench_clock::now() >= stop_) {
            finished_ = true;
            return;
        }
        current_ = next_++;
        acked_ = arrived_ = false;
        tally_.sent(current_);
        sender_.request("sendmessage " + to_ + " " + compose({0, current_, now_ns()}),
                        [this, id = current_](const std::string& reply) {
                            tally_.replied(id, reply);
                            acked_ = true;
                            arrived_ = arrived_ || reply != "Ok."; // a refused message never comes
                            step();
                        });
    }

    void arrived(const bench_message& m, std::int64_t at)
    {
        tally_.log.arrived(m, 0);
        if (m.id != current_ || arrived_)
            return;
        latency_.add(at - m.sent_ns);
        arrived_ = true;
        step();
    }

    void step()
    {
        if (acked_ && arrived_)
            send_next();
    }

    client& sender_;
    std::string to_;
    long count_;
    send_tally tally_;
    latency_log latency_;
    select_receiver waiting_;
    bench_clock::time_point stop_;
    std::uint64_t next_ = 0, current_ = 0;
    bool acked_ = false, arrived_ = false, finished_ = false;
};

} // namespace

json_line run_latency(run_context& ctx)
{
    const long count = count_or(ctx.opt, 2000);
    const std::string from = ctx.opt.prefix + "ps", to = ctx.opt.prefix + "pr";
    ensure_accounts(ctx, {from, to});
    clear_boxes(ctx, ctx.receiver_server, {to});
    auto receiver = log_in_all(ctx, {to}, ctx.receiver_server);
    auto sender = log_in_all(ctx, {from});
    ping_pair pair(ctx, *sender[0], *receiver[0], to, count);
    const auto start = bench_clock::now();
    ctx.watch.begin();
    pair.start(after_seconds(ctx.opt.duration));
    ctx.run_until([&] { return pair.finished(); }, after_seconds(ctx.opt.duration + ctx.opt.drain));
    const double wall = seconds_since(start);
    ctx.watch.end();

    json_line out = server_line(ctx, "latency");
    out.add("count", static_cast<long long>(count));
    pair.tally().report(out);
    out.add("wall_s", wall).add("round_trips_per_s", static_cast<double>(pair.latency().size()) / wall);
    ctx.watch.report(out, static_cast<double>(pair.latency().size()));
    pair.latency().report(out, "latency");
    return out;
}

} // namespace qsb
