#include "run_context.h"

#include "bench_error.h"

namespace qsb {

run_context::run_context(const options& o)
    : opt(o), server(loopback_endpoint(o.host, o.port)), watch(o.server_pid)
{
    server.tls = o.tls;
    server.ws = o.ws;
}

bool run_context::run_until(const std::function<bool()>& done, bench_clock::time_point deadline)
{
    const bool ok = loop.run_until([&] { return !failure.empty() || done(); }, deadline);
    check();
    return ok;
}

void run_context::wait_for(const std::string& what, const std::function<bool()>& done,
                           bench_clock::time_point deadline)
{
    if (!run_until(done, deadline))
        throw bench_error("timed out waiting for " + what);
}

client::error_fn run_context::fail_as(const std::string& who)
{
    return [this, who](const std::string& why) {
        if (failure.empty())
            failure = who + ": " + why;
    };
}

void run_context::check() const
{
    if (!failure.empty())
        throw bench_error(failure);
}

} // namespace qsb
