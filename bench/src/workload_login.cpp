// login: loops of connect, login, logout, close; with --with-ver first loops of connect,
// ver, close, so that one run gives both rates per server CPU-second and their ratio.
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "accounts.h"
#include "bench_error.h"
#include "latency.h"
#include "workloads.h"

namespace qsb {

namespace {

struct cycle_tally {
    long long started = 0, ok = 0, failed = 0;
    std::map<std::string, long long> failures; // by reply or error
    latency_log cycle;
};

// One command of a cycle and the reply it must get (empty: any reply).
struct cycle_step {
    std::string command;
    std::string expect;
};

// One loop: connect, its steps in turn, close; one connection at a time.
class cycle_loop {
public:
    cycle_loop(run_context& ctx, std::vector<cycle_step> steps, cycle_tally& tally, long limit,
               bench_clock::time_point stop)
        : steps_(std::move(steps)), tally_(tally), limit_(limit), stop_(stop), c_(ctx.loop, ctx.server)
    {
        c_.on_error([this](const std::string& why) { failed(why); });
    }

    void next()
    {
        busy_ = tally_.started < limit_ && bench_clock::now() < stop_;
        if (!busy_)
            return;
        ++tally_.started;
        begun_ = now_ns();
        c_.open(); // a connect refused at once ends the workload
        run_step(0);
    }

    bool busy() const { return busy_; }

private:
    void run_step(std::size_t i)
    {
        if (i == steps_.size()) {
            ++tally_.ok;
            tally_.cycle.add(now_ns() - begun_);
            c_.close();
            return next();
        }
        c_.request(steps_[i].command, [this, i](const std::string& r) {
            const auto& expect = steps_[i].expect;
            if (!expect.empty() && r != expect)
                return failed(i == 0 ? r : steps_[i].command + ": " + r);
            run_step(i + 1);
        });
    }

    void failed(const std::string& why)
    {
        ++tally_.failed;
        ++tally_.failures[why];
        c_.close();
        next();
    }

    const std::vector<cycle_step> steps_;
    cycle_tally& tally_;
    long limit_;
    bench_clock::time_point stop_;
    client c_;
    bool busy_ = false;
    std::int64_t begun_ = 0;
};

struct cycle_run {
    cycle_tally tally;
    double wall_s = 0;
    std::optional<double> cpu_s;
};

// Runs one loop per entry of steps until count cycles are done or --duration passes.
cycle_run run_cycles(run_context& ctx, const std::vector<std::vector<cycle_step>>& steps, long count,
                     server_watch& watch)
{
    cycle_run run;
    std::vector<std::unique_ptr<cycle_loop>> loops;
    loops.reserve(steps.size());
    const auto start = bench_clock::now();
    const auto stop = after_seconds(ctx.opt.duration);
    watch.begin();
    for (const auto& s : steps)
        loops.push_back(std::make_unique<cycle_loop>(ctx, s, run.tally, count, stop));
    for (auto& l : loops)
        l->next();
    auto all_idle = [&] {
        for (auto& l : loops)
            if (l->busy())
                return false;
        return true;
    };
    ctx.wait_for("the loops", all_idle, after_seconds(ctx.opt.duration + ctx.opt.drain));
    run.wall_s = seconds_since(start);
    watch.end();
    run.cpu_s = watch.cpu_s();
    return run;
}

std::optional<double> per_cpu_s(const cycle_run& run)
{
    if (!run.cpu_s || *run.cpu_s <= 0)
        return std::nullopt;
    return static_cast<double>(run.tally.ok) / *run.cpu_s;
}

// The ver loops' figures, and login per server CPU-second over ver per server CPU-second.
void add_ver(json_line& out, const cycle_run& ver, const cycle_run& login)
{
    out.add("ver_cycles", ver.tally.ok).add("ver_failures", ver.tally.failed);
    out.add("ver_per_s", static_cast<double>(ver.tally.ok) / ver.wall_s);
    out.add("ver_server_cpu_s", ver.cpu_s).add("ver_per_server_cpu_s", per_cpu_s(ver));
    const auto v = per_cpu_s(ver), l = per_cpu_s(login);
    out.add("login_to_ver", v && l ? std::optional<double>(*l / *v) : std::nullopt);
}

} // namespace

json_line run_login(run_context& ctx)
{
    const auto names = account_names(ctx.opt, "l", ctx.opt.loops);
    const long count = count_or(ctx.opt, 2000);
    ensure_accounts(ctx, names);
    std::optional<cycle_run> ver;
    if (ctx.opt.with_ver) {
        server_watch watch(ctx.opt.server_pid);
        ver = run_cycles(ctx, std::vector<std::vector<cycle_step>>(names.size(), {{"ver", ""}}), count, watch);
        if (ver->tally.ok == 0)
            throw bench_error("no ver succeeded");
    }
    std::vector<std::vector<cycle_step>> steps;
    steps.reserve(names.size());
    for (const auto& name : names)
        steps.push_back({{"login " + name + " " + ctx.opt.password, "Ok."}, {"logout", "Ok."}});
    cycle_run login = run_cycles(ctx, steps, count, ctx.watch);
    auto& tally = login.tally;
    if (tally.ok == 0)
        throw bench_error("no login succeeded" + (tally.failures.empty() ? "" : ": " + tally.failures.begin()->first));
    json_line out = server_line(ctx, "login");
    out.add("loops", static_cast<long long>(ctx.opt.loops)).add("count", static_cast<long long>(count));
    out.add("logins", tally.ok).add("failures", tally.failed).add("failure_reasons", tally.failures);
    out.add("wall_s", login.wall_s).add("logins_per_s", static_cast<double>(tally.ok) / login.wall_s);
    ctx.watch.report(out, static_cast<double>(tally.ok));
    tally.cycle.report(out, "cycle");
    if (ver)
        add_ver(out, *ver, login);
    return out;
}

} // namespace qsb
