#include "run_context.h"

#include "bench_error.h"

namespace qsb {

namespace {

endpoint receivers_endpoint(const options& o)
{
    return loopback_endpoint(o.receiver_host.empty() ? o.host : o.receiver_host,
                             o.receiver_port ? o.receiver_port : o.port, "--receiver-host");
}

} // namespace

run_context::run_context(const options& o)
    : opt(o), server(loopback_endpoint(o.host, o.port)), receiver_server(receivers_endpoint(o)), watch(o.server_pid)
{
    for (endpoint* ep : {&server, &receiver_server}) {
        ep->tls = o.tls;
        ep->ws = o.ws;
    }
}

bool run_context::run_until(const std::function<bool()>& done, bench_clock::time_point deadline)
{
    const bool ok = loop.run_until([&] { return !failure.empty() || done(); }, deadline);
    check();
    return ok;
}

void run_context::wait_for(const std::string& what, const std::function<bool()>& done, bench_clock::time_point deadline)
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
