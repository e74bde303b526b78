#include "proc_stats.h"

#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "bench_error.h"

namespace qsb {

namespace {

// The process's CPU clock counts nanoseconds, exited threads included; /proc/PID/stat
// counts clock ticks (10 ms), too coarse for a phase of a tenth of a second.
std::optional<double> read_cpu_clock_s(pid_t pid)
{
    clockid_t clock{};
    timespec t{};
    if (::clock_getcpuclockid(pid, &clock) != 0 || ::clock_gettime(clock, &t) != 0)
        return std::nullopt;
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

std::optional<double> read_cpu_s(pid_t pid)
{
    if (const auto precise = read_cpu_clock_s(pid))
        return precise;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line))
        return std::nullopt;
    const auto paren = line.rfind(')'); // the command name may hold spaces
    if (paren == std::string::npos)
        return std::nullopt;
    std::istringstream fields(line.substr(paren + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i) // state is field 3; utime and stime are 14 and 15
        fields >> skip;
    unsigned long long utime = 0, stime = 0;
    if (!(fields >> utime >> stime))
        return std::nullopt;
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

} // namespace

std::optional<proc_sample> read_proc(pid_t pid)
{
    const auto cpu = read_cpu_s(pid);
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    if (!cpu || !in)
        return std::nullopt;
    proc_sample s;
    s.cpu_s = *cpu;
    std::string key;
    while (in >> key) {
        if (key == "VmRSS:")
            in >> s.rss_kb;
        else if (key == "Threads:")
            in >> s.threads;
        in.ignore(1 << 20, '\n');
    }
    return s;
}

std::optional<proc_sample> server_watch::take() const
{
    if (pid_ <= 0)
        return std::nullopt;
    auto s = read_proc(pid_);
    if (!s)
        throw bench_error("cannot read /proc/" + std::to_string(pid_) + ": is --server-pid the server?");
    return s;
}

void server_watch::begin()
{
    before_ = take();
}

void server_watch::end()
{
    after_ = take();
}

std::optional<proc_sample> server_watch::now() const
{
    return take();
}

std::optional<double> server_watch::cpu_s() const
{
    if (!before_ || !after_)
        return std::nullopt;
    return after_->cpu_s - before_->cpu_s;
}

void server_watch::report(json_line& out, double events) const
{
    const auto cpu = cpu_s();
    out.add("server_cpu_s", cpu);
    out.add("per_server_cpu_s", cpu && *cpu > 0 ? std::optional<double>(events / *cpu) : std::nullopt);
    if (!after_) {
        out.add_null("server_rss_kb").add_null("server_threads");
        return;
    }
    out.add("server_rss_kb", static_cast<long long>(after_->rss_kb));
    out.add("server_threads", static_cast<long long>(after_->threads));
}

} // namespace qsb
