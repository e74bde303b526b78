#include "workloads.h"

namespace qsb {

json_line server_line(const run_context& ctx, const char* name)
{
    json_line out;
    out.add("workload", name).add("host", ctx.opt.host).add("port", static_cast<long long>(ctx.opt.port));
    out.add("transport", ctx.opt.ws ? (ctx.opt.tls ? "wss" : "ws") : (ctx.opt.tls ? "tls" : "tcp"));
    out.add("duration_cap_s", ctx.opt.duration);
    return out;
}

long count_or(const options& opt, long fallback)
{
    return opt.count > 0 ? opt.count : fallback;
}

} // namespace qsb
