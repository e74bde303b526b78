#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "qs/server/logic/server_state.h"

namespace qs {

// The figures /metrics shows, in the Prometheus text format (version 0.0.4): the
// process's counters, what state and its database pool hold now, and how late each
// event loop last ran its tick. Any thread; takes the table lock and the pool's lock for
// a moment each.
std::string metrics_page(server_state& state, const std::vector<std::chrono::microseconds>& loop_lags);

} // namespace qs
