#include "workloads.h"

namespace qsb {

json_line server_line(const run_context& ctx, const char* name)
{
    json_line out;
    out.add("workload", name).add("host", ctx.opt.host).add("port", static_cast<long long>(ctx.opt.port));
    if (receivers_apart(ctx.opt)) {
        const options& o = ctx.opt;
        out.add("receiver_host", o.receiver_host.empty() ? o.host : o.receiver_host);
        out.add("receiver_port", static_cast<long long>(o.receiver_port ? o.receiver_port : o.port));
    }
    out.add("transport", ctx.opt.ws ? (ctx.opt.tls ? "wss" : "ws") : (ctx.opt.tls ? "tls" : "tcp"));
    out.add("duration_cap_s", ctx.opt.duration);
    return out;
}

long count_or(const options& opt, long fallback)
{
    return opt.count > 0 ? opt.count : fallback;
}

} // namespace qsb
