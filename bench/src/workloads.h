#pragma once

#include "json_line.h"
#include "options.h"
#include "run_context.h"

namespace qsb {

// Each runs one workload and returns its JSON line; throws bench_error when it cannot run.
json_line run_login(run_context& ctx);
json_line run_offline(run_context& ctx);
json_line run_dm(run_context& ctx);
json_line run_latency(run_context& ctx);
json_line run_idle(run_context& ctx);
json_line run_loopback(const options& opt);

// {"workload": name, "host", "port", "duration_cap_s"} to start a server workload's line.
json_line server_line(const run_context& ctx, const char* name);

// A count option, or the workload's default.
long count_or(const options& opt, long fallback);

} // namespace qsb
