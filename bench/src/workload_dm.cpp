// dm: sender->receiver pairs, pipelined sends, receivers waiting in select.
#include <memory>

#include "accounts.h"
#include "latency.h"
#include "mailbox_fetch.h"
#include "pipelined_sender.h"
#include "select_receiver.h"
#include "workloads.h"

namespace qsb {

namespace {

struct dm_run {
    dm_run(run_context& c, long n, int w, std::vector<std::string> r)
        : ctx(c), count(n), window(w), receivers(std::move(r))
    {
    }

    run_context& ctx;
    long count;
    int window;
    std::vector<std::string> receivers;
    send_tally tally;
    latency_log latency;
    std::vector<std::unique_ptr<client>> clients;
    std::vector<std::unique_ptr<select_receiver>> waiting;
    std::vector<std::unique_ptr<pipelined_sender>> senders;
    std::vector<std::uint64_t> sent_by_pair;

    bool done() const
    {
        for (auto& s : senders)
            if (!s->idle())
                return false;
        return tally.log.missing() == 0;
    }

    // Pair i sends ids i, i+K, i+2K... below count to receiver i.
    std::optional<outgoing> next_for(std::size_t i)
    {
        const std::uint64_t id = i + sent_by_pair[i] * receivers.size();
        if (id >= static_cast<std::uint64_t>(count))
            return std::nullopt;
        ++sent_by_pair[i];
        return outgoing{receivers[i], id};
    }

    void receive(const bench_message& m, std::int64_t arrived_ns)
    {
        if (tally.log.arrived(m, m.sender))
            latency.add(arrived_ns - m.sent_ns);
    }

    void set_up(const std::vector<std::string>& sender_names)
    {
        clients = log_in_all(ctx, receivers, ctx.receiver_server);
        for (auto& c : clients)
            waiting.push_back(std::make_unique<select_receiver>(
                ctx, *c, [this](const bench_message& m, std::int64_t at) { receive(m, at); }));
        auto sending = log_in_all(ctx, sender_names);
        sent_by_pair.assign(receivers.size(), 0);
        for (std::size_t i = 0; i < sending.size(); ++i) {
            senders.push_back(std::make_unique<pipelined_sender>(
                *sending[i], i, window, ctx.opt.batch, [this, i] { return next_for(i); }, tally));
            clients.push_back(std::move(sending[i]));
        }
        for (auto& w : waiting)
            w->start();
    }

    double run()
    {
        const auto start = bench_clock::now();
        ctx.watch.begin();
        for (auto& s : senders)
            s->top_up();
        if (!ctx.run_until([this] { return done(); }, after_seconds(ctx.opt.duration))) {
            for (auto& s : senders)
                s->stop();
            ctx.run_until([this] { return done(); }, after_seconds(ctx.opt.drain));
        }
        const double wall = seconds_since(start);
        ctx.watch.end();
        return wall;
    }

    std::uint64_t sender_writes() const
    {
        std::uint64_t n = 0;
        for (std::size_t i = receivers.size(); i < clients.size(); ++i)
            n += clients[i]->writes();
        return n;
    }
};

} // namespace

json_line run_dm(run_context& ctx)
{
    const options& o = ctx.opt;
    const long count = count_or(o, 50000);
    dm_run dm(ctx, count, o.window ? o.window : 256, account_names(o, "dr", o.pairs));
    const auto sender_names = account_names(o, "ds", o.pairs);
    ensure_accounts(ctx, sender_names);
    ensure_accounts(ctx, dm.receivers);
    clear_boxes(ctx, ctx.receiver_server, dm.receivers);
    dm.set_up(sender_names);
    const double wall = dm.run();

    json_line out = server_line(ctx, "dm");
    out.add("pairs", static_cast<long long>(o.pairs)).add("window", static_cast<long long>(dm.window));
    out.add("batch", static_cast<long long>(o.batch)).add("count", static_cast<long long>(count));
    dm.tally.report(out);
    long long malformed = 0;
    for (auto& w : dm.waiting)
        malformed += static_cast<long long>(w->malformed());
    out.add("malformed", malformed);
    out.add("sender_writes", static_cast<long long>(dm.sender_writes()));
    out.add("wall_s", wall).add("delivered_per_s", static_cast<double>(dm.tally.log.delivered()) / wall);
    ctx.watch.report(out, static_cast<double>(dm.tally.log.delivered()));
    dm.latency.report(out, "latency");
    return out;
}

} // namespace qsb
