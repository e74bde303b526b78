#pragma once

#include <optional>
#include <sys/types.h>

#include "json_line.h"

namespace qsb {

struct proc_sample {
    double cpu_s = 0; // user + system time
    long rss_kb = 0;
    long threads = 0;
};

// Reads /proc/PID/stat and /proc/PID/status; nothing when the process is gone.
std::optional<proc_sample> read_proc(pid_t pid);

// The server's CPU time over a measured phase, and its memory at the end. Without a
// pid every figure is null.
class server_watch {
public:
    explicit server_watch(pid_t pid) : pid_(pid) {}

    // Throws bench_error when the process cannot be read.
    void begin();
    void end();
    std::optional<proc_sample> now() const;

    std::optional<double> cpu_s() const;
    // Adds server_cpu_s, per_server_cpu_s (events per CPU-second), server_rss_kb and server_threads.
    void report(json_line& out, double events) const;

private:
    std::optional<proc_sample> take() const;

    pid_t pid_;
    std::optional<proc_sample> before_, after_;
};

} // namespace qsb
