// login: loops of connect, login, logout, close.
#include <map>
#include <memory>

#include "accounts.h"
#include "bench_error.h"
#include "latency.h"
#include "workloads.h"

namespace qsb {

namespace {

struct login_tally {
    long long started = 0, ok = 0, failed = 0;
    std::map<std::string, long long> failures; // by reply or error
    latency_log cycle;
};

// One loop: its own account, one connection at a time.
class login_loop {
public:
    login_loop(run_context& ctx, std::string name, login_tally& tally, long limit, bench_clock::time_point stop)
        : ctx_(ctx), name_(std::move(name)), tally_(tally), limit_(limit), stop_(stop), c_(ctx.loop, ctx.server)
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
        c_.request("login " + name_ + " " + ctx_.opt.password, [this](const std::string& r) { logged_in(r); });
    }

    bool busy() const { return busy_; }

private:
    void logged_in(const std::string& reply)
    {
        if (reply != "Ok.")
            return failed(reply);
        c_.request("logout", [this](const std::string& r) {
            if (r != "Ok.")
                return failed("logout: " + r);
            ++tally_.ok;
            tally_.cycle.add(now_ns() - begun_);
            c_.close();
            next();
        });
    }

    void failed(const std::string& why)
    {
        ++tally_.failed;
        ++tally_.failures[why];
        c_.close();
        next();
    }

    run_context& ctx_;
    std::string name_;
    login_tally& tally_;
    long limit_;
    bench_clock::time_point stop_;
    client c_;
    bool busy_ = false;
    std::int64_t begun_ = 0;
};

} // namespace

json_line run_login(run_context& ctx)
{
    const auto names = account_names(ctx.opt, "l", ctx.opt.loops);
    const long count = count_or(ctx.opt, 2000);
    ensure_accounts(ctx, names);
    login_tally tally;
    std::vector<std::unique_ptr<login_loop>> loops;
    loops.reserve(names.size());
    const auto start = bench_clock::now();
    const auto stop = after_seconds(ctx.opt.duration);
    ctx.watch.begin();
    for (const auto& name : names)
        loops.push_back(std::make_unique<login_loop>(ctx, name, tally, count, stop));
    for (auto& l : loops)
        l->next();
    auto all_idle = [&] {
        for (auto& l : loops)
            if (l->busy())
                return false;
        return true;
    };
    ctx.wait_for("the login loops", all_idle, after_seconds(ctx.opt.duration + ctx.opt.drain));
    const double wall = seconds_since(start);
    ctx.watch.end();
    if (tally.ok == 0)
        throw bench_error("no login succeeded" + (tally.failures.empty() ? "" : ": " + tally.failures.begin()->first));
    json_line out = server_line(ctx, "login");
    out.add("loops", static_cast<long long>(ctx.opt.loops)).add("count", static_cast<long long>(count));
    out.add("logins", tally.ok).add("failures", tally.failed).add("failure_reasons", tally.failures);
    out.add("wall_s", wall).add("logins_per_s", static_cast<double>(tally.ok) / wall);
    ctx.watch.report(out, static_cast<double>(tally.ok));
    tally.cycle.report(out, "cycle");
    return out;
}

} // namespace qsb
