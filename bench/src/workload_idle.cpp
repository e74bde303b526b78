// idle: many logged-in clients each parked in select; the server's memory per client.
#include <algorithm>

#include "accounts.h"
#include "bench_error.h"
#include "workloads.h"

namespace qsb {

namespace {

// Leaves a select waiting on every client, then asks each for `ver`: the server reads a
// connection's requests in order, so once every ver is answered every select has
// reached it.
void park_all(run_context& ctx, std::vector<std::unique_ptr<client>>& clients, long long& woken, std::size_t from = 0)
{
    std::size_t answered = 0;
    for (std::size_t i = from; i < clients.size(); ++i) {
        auto& c = clients[i];
        c->queue("select MSG", [&woken](const std::string&) { ++woken; });
        c->queue("ver", [&answered](const std::string&) { ++answered; });
        c->flush();
    }
    ctx.wait_for(
        "the clients to park", [&] { return answered == clients.size() - from; }, after_seconds(ctx.opt.drain));
}

// rss_per_client_kb counts what the server first grows by as well (database connections
// opened, caches filled); rss_per_added_client_kb, of the second half alone, leaves most of
// that out.
void add_memory(json_line& out, const std::optional<proc_sample>& before, const std::optional<proc_sample>& half,
                const std::optional<proc_sample>& after, int clients, int added)
{
    if (!before || !half || !after) {
        out.add_null("rss_before_kb").add_null("rss_half_kb").add_null("rss_after_kb");
        out.add_null("rss_per_client_kb").add_null("rss_per_added_client_kb");
        out.add_null("threads_before").add_null("threads_after");
        return;
    }
    out.add("rss_before_kb", static_cast<long long>(before->rss_kb));
    out.add("rss_half_kb", static_cast<long long>(half->rss_kb));
    out.add("rss_after_kb", static_cast<long long>(after->rss_kb));
    out.add("rss_per_client_kb", static_cast<double>(after->rss_kb - before->rss_kb) / clients);
    out.add("rss_per_added_client_kb", static_cast<double>(after->rss_kb - half->rss_kb) / std::max(1, added));
    out.add("threads_before", static_cast<long long>(before->threads));
    out.add("threads_after", static_cast<long long>(after->threads));
}

} // namespace

json_line run_idle(run_context& ctx)
{
    const int n = ctx.opt.clients;
    const auto names = account_names(ctx.opt, "i", n);
    ensure_accounts(ctx, names);
    const auto start = bench_clock::now();
    ctx.watch.begin();
    const auto before = ctx.watch.now();
    // Half the clients, then the other half: the second half's growth is what each more
    // idle client costs once the server has warmed up.
    const auto half_names = std::vector<std::string>(names.begin(), names.begin() + n / 2);
    auto clients = log_in_all(ctx, half_names);
    long long woken = 0;
    park_all(ctx, clients, woken);
    const auto half = ctx.watch.now();
    auto rest = log_in_all(ctx, std::vector<std::string>(names.begin() + n / 2, names.end()));
    const std::size_t first_added = clients.size();
    for (auto& c : rest)
        clients.push_back(std::move(c));
    park_all(ctx, clients, woken, first_added);
    const double wall = seconds_since(start);
    ctx.watch.end();
    const auto after = ctx.watch.now();

    json_line out = server_line(ctx, "idle");
    out.add("clients", static_cast<long long>(n)).add("parked", static_cast<long long>(clients.size()) - woken);
    out.add("setup_s", wall).add("logins_per_s", n / wall);
    ctx.watch.report(out, n);
    add_memory(out, before, half, after, n, n - n / 2);
    clients.clear();
    return out;
}

} // namespace qsb
