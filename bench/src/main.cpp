// qsbench: load generator and benchmark for the Quillspeak server.
#include <csignal>
#include <cstdio>
#include <iostream>
#include <sys/resource.h>

#include "bench_error.h"
#include "endpoint.h"
#include "options.h"
#include "workloads.h"

namespace {

using server_workload = qsb::json_line (*)(qsb::run_context&);

const std::pair<const char*, server_workload> server_workloads[] = {
    {"login", qsb::run_login},     {"offline", qsb::run_offline}, {"dm", qsb::run_dm},
    {"latency", qsb::run_latency}, {"idle", qsb::run_idle},
};

// Many connections at once need many descriptors.
void raise_file_limit()
{
    rlimit lim{};
    if (::getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &lim);
    }
}

// A port on 127.0.0.1 that nothing listens on now, for scripts that start a server.
int print_free_port()
{
    std::cout << qsb::free_loopback_port() << std::endl;
    return 0;
}

qsb::json_line run(const qsb::options& opt)
{
    if (opt.workload == "loopback")
        return qsb::run_loopback(opt);
    for (const auto& [name, fn] : server_workloads) {
        if (opt.workload != name)
            continue;
        if (opt.port == 0)
            throw qsb::bench_error("--port is needed for " + opt.workload);
        qsb::run_context ctx(opt);
        return fn(ctx);
    }
    throw qsb::bench_error("unknown workload '" + opt.workload + "'\n" + qsb::usage());
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    raise_file_limit();
    try {
        const qsb::options opt = qsb::parse_options(argc, argv);
        if (opt.workload == "free-port")
            return print_free_port();
        if (opt.help || opt.workload.empty()) {
            std::cerr << qsb::usage();
            return opt.help ? 0 : 2;
        }
        const qsb::json_line line = run(opt);
        std::cout << line.str() << std::endl;
        std::cerr << "qsbench " << opt.workload << ":\n" << line.summary();
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "qsbench: " << e.what() << "\n";
        return 1;
    }
}
