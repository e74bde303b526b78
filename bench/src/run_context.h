#pragma once

#include <functional>
#include <string>

#include "bench_clock.h"
#include "client.h"
#include "endpoint.h"
#include "event_loop.h"
#include "options.h"
#include "proc_stats.h"

namespace qsb {

// What every server workload shares: its options, the event loop and the server's /proc.
struct run_context {
    explicit run_context(const options& o);

    // Runs the loop until done() holds; throws bench_error when a client failed or
    // the deadline passed first.
    void wait_for(const std::string& what, const std::function<bool()>& done, bench_clock::time_point deadline);
    // Runs the loop until done() holds or the deadline passes; true when done.
    bool run_until(const std::function<bool()>& done, bench_clock::time_point deadline);
    // An error callback that makes the workload fail, naming who failed.
    client::error_fn fail_as(const std::string& who);
    // Throws bench_error when a client failed.
    void check() const;

    const options& opt;
    endpoint server;
    endpoint receiver_server; // where dm's and latency's receivers log in; server unless told
    event_loop loop;
    server_watch watch;
    std::string failure;
};

} // namespace qsb
