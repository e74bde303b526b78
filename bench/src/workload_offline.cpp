// offline: pipelined sends to logged-out receivers, who then fetch everything.
#include <memory>

#include "accounts.h"
#include "mailbox_fetch.h"
#include "pipelined_sender.h"
#include "workloads.h"

namespace qsb {

namespace {

// Sends every message; returns the wall time from the first send to the last reply.
double send_all(run_context& ctx, std::vector<std::unique_ptr<pipelined_sender>>& senders)
{
    auto idle = [&] {
        for (auto& s : senders)
            if (!s->idle())
                return false;
        return true;
    };
    const auto start = bench_clock::now();
    ctx.watch.begin();
    for (auto& s : senders)
        s->top_up();
    if (!ctx.run_until(idle, after_seconds(ctx.opt.duration))) {
        for (auto& s : senders)
            s->stop();
        ctx.wait_for("the replies to sendmessage", idle, after_seconds(ctx.opt.drain));
    }
    const double wall = seconds_since(start);
    ctx.watch.end();
    return wall;
}

} // namespace

json_line run_offline(run_context& ctx)
{
    const options& o = ctx.opt;
    const long count = count_or(o, 20000);
    const int window = o.window ? o.window : 64;
    const auto sender_names = account_names(o, "s", o.senders);
    const auto receivers = account_names(o, "r", o.receivers);
    ensure_accounts(ctx, sender_names);
    ensure_accounts(ctx, receivers);
    const long long leftover = clear_boxes(ctx, ctx.server, receivers);

    auto clients = log_in_all(ctx, sender_names);
    send_tally tally;
    std::uint64_t next_id = 0;
    auto source = [&]() -> std::optional<outgoing> {
        if (next_id >= static_cast<std::uint64_t>(count))
            return std::nullopt;
        const std::uint64_t id = next_id++;
        return outgoing{receivers[id % receivers.size()], id};
    };
    std::vector<std::unique_ptr<pipelined_sender>> senders;
    for (std::size_t i = 0; i < clients.size(); ++i)
        senders.push_back(std::make_unique<pipelined_sender>(*clients[i], i, window, 1, source, tally));
    const double wall = send_all(ctx, senders);
    clients.clear();

    long long malformed = 0;
    const auto fetch_start = bench_clock::now();
    const fetch_result fetched = fetch_all(ctx, ctx.server, receivers, [&](std::size_t r, std::string_view text) {
        if (auto m = parse_message(text))
            tally.log.arrived(*m, m->sender * receivers.size() + r);
        else
            ++malformed;
    });
    json_line out = server_line(ctx, "offline");
    out.add("senders", static_cast<long long>(o.senders)).add("receivers", static_cast<long long>(o.receivers));
    out.add("window", static_cast<long long>(window)).add("count", static_cast<long long>(count));
    out.add("leftover_before", leftover);
    tally.report(out);
    out.add("malformed", malformed + fetched.malformed).add("fetch_replies", fetched.replies);
    out.add("wall_s", wall).add("acknowledged_per_s", static_cast<double>(tally.acknowledged) / wall);
    ctx.watch.report(out, static_cast<double>(tally.acknowledged));
    out.add("fetch_s", seconds_since(fetch_start));
    return out;
}

} // namespace qsb
