#include "accounts.h"

#include <algorithm>

#include "bounded_jobs.h"

namespace qsb {

namespace {

constexpr std::size_t setup_window = 64;

} // namespace

std::vector<std::string> account_names(const options& opt, std::string_view role, int n)
{
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(std::max(n, 0)));
    for (int i = 0; i < n; ++i)
        names.push_back(opt.prefix + std::string(role) + std::to_string(i));
    return names;
}

client::reply_fn expect_ok(run_context& ctx, std::string what, std::function<void()> then)
{
    return [&ctx, what = std::move(what), then = std::move(then)](const std::string& reply) {
        if (reply != "Ok.") {
            if (ctx.failure.empty())
                ctx.failure = what + ": " + reply;
            return;
        }
        if (then)
            then();
    };
}

void ensure_accounts(run_context& ctx, const std::vector<std::string>& names)
{
    client c(ctx.loop, ctx.server);
    c.on_error(ctx.fail_as("creating accounts"));
    c.open();
    std::size_t next = 0, done = 0;
    std::function<void()> top_up = [&] {
        for (; next < names.size() && c.awaiting() < setup_window; ++next) {
            const std::string& name = names[next];
            c.queue("newuser " + name + " " + ctx.opt.password, [&ctx, &done, &top_up, name](const std::string& r) {
                if (r != "Ok." && r != "The user is already exist." && ctx.failure.empty())
                    ctx.failure = "newuser " + name + ": " + r;
                ++done;
                top_up();
            });
        }
        c.flush();
    };
    top_up();
    ctx.wait_for(
        "newuser replies", [&] { return done == names.size(); }, after_seconds(ctx.opt.drain));
}

std::vector<std::unique_ptr<client>> log_in_all(run_context& ctx, const std::vector<std::string>& names)
{
    return log_in_all(ctx, names, ctx.server);
}

std::vector<std::unique_ptr<client>> log_in_all(run_context& ctx, const std::vector<std::string>& names,
                                                const endpoint& at)
{
    std::vector<std::unique_ptr<client>> clients;
    for (const auto& name : names) {
        clients.push_back(std::make_unique<client>(ctx.loop, at));
        clients.back()->on_error(ctx.fail_as(name));
    }
    bounded_jobs jobs(names.size(), setup_window, [&](std::size_t i, std::function<void()> finished) {
        clients[i]->open();
        clients[i]->request("login " + names[i] + " " + ctx.opt.password,
                            expect_ok(ctx, "login " + names[i], std::move(finished)));
    });
    jobs.start();
    ctx.wait_for(
        "logins", [&] { return jobs.all_done(); }, after_seconds(ctx.opt.drain));
    return clients;
}

} // namespace qsb
