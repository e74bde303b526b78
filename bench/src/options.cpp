#include "options.h"

#include <charconv>
#include <cstdio>
#include <type_traits>
#include <limits>
#include <variant>

#include "bench_error.h"

namespace qsb {

namespace {

using field = std::variant<int options::*, long options::*, double options::*, std::string options::*>;

struct option_def {
    const char* name;
    field target;
    double min = 0;
    double max = 0;
};

const option_def known_options[] = {
    {"--host", &options::host},
    {"--port", &options::port, 1, 65535},
    {"--receiver-host", &options::receiver_host},
    {"--receiver-port", &options::receiver_port, 1, 65535},
    {"--server-pid", &options::server_pid, 1, std::numeric_limits<int>::max()},
    {"--duration", &options::duration, 0.001, 3600},
    {"--drain", &options::drain, 0.001, 3600},
    {"--count", &options::count, 1, 1e9},
    {"--window", &options::window, 1, 100000},
    {"--loops", &options::loops, 1, 10000},
    {"--senders", &options::senders, 1, 10000},
    {"--receivers", &options::receivers, 1, 100000},
    {"--pairs", &options::pairs, 1, 10000},
    {"--batch", &options::batch, 1, 100000},
    {"--clients", &options::clients, 1, 1000000},
    {"--prefix", &options::prefix},
    {"--password", &options::password},
};

std::string plain(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

template <typename T>
T number(const option_def& def, const std::string& text)
{
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || static_cast<double>(value) < def.min ||
        static_cast<double>(value) > def.max)
        throw bench_error(std::string(def.name) + " takes a number in " + plain(def.min) + ".." + plain(def.max) +
                          ", not '" + text + "'");
    return value;
}

void set(options& o, const option_def& def, const std::string& value)
{
    std::visit(
        [&](auto member) {
            using T = std::remove_reference_t<decltype(o.*member)>;
            if constexpr (std::is_same_v<T, std::string>) {
                if (value.empty() || value.find_first_of(" \"|") != std::string::npos)
                    throw bench_error(std::string(def.name) + " takes a word without spaces, quotes or '|'");
                o.*member = value;
            } else {
                o.*member = number<T>(def, value);
            }
        },
        def.target);
}

const option_def& find_option(const std::string& name)
{
    for (const auto& def : known_options)
        if (name == def.name)
            return def;
    throw bench_error("unknown option " + name + "\n" + usage());
}

// Only the workloads whose receivers wait in select can have them elsewhere.
void check_receivers(const options& o)
{
    if (receivers_apart(o) && !o.workload.empty() && o.workload != "dm" && o.workload != "latency")
        throw bench_error("--receiver-host and --receiver-port are for dm and latency, not " + o.workload);
}

} // namespace

bool receivers_apart(const options& o)
{
    return !o.receiver_host.empty() || o.receiver_port != 0;
}

options parse_options(int argc, char** argv)
{
    options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            o.help = true;
        } else if (arg == "--tls") {
            o.tls = true;
        } else if (arg == "--ws") {
            o.ws = true;
        } else if (arg == "--with-ver") {
            o.with_ver = true;
        } else if (arg.rfind("--", 0) != 0) {
            if (!o.workload.empty())
                throw bench_error("one workload at a time, not " + o.workload + " and " + arg);
            o.workload = arg;
        } else {
            if (i + 1 >= argc)
                throw bench_error(arg + " needs a value");
            set(o, find_option(arg), argv[++i]);
        }
    }
    check_receivers(o);
    if (o.with_ver && !o.workload.empty() && o.workload != "login")
        throw bench_error("--with-ver is for login, not " + o.workload);
    return o;
}

std::string usage()
{
    return R"(usage: qsbench WORKLOAD [options]
Workloads (each bounded by --count and --duration):
  login     --loops L (4) loops of connect, login, logout, close; --count (2000) logins;
            --with-ver first as many loops of connect, ver, close, and the ratio of the rates
  offline   --senders S (4) pipeline --count (20000) sendmessage, --window W (64) each, to
            --receivers R (100) logged-out users, who then log in and fetch everything
  dm        --pairs K (16) sender->receiver pairs; --window W (256) unanswered sends per
            sender, --batch B (1) frames per write; receivers wait in select; --count (50000)
  latency   one pair, one message in flight; --count (2000)
  idle      --clients N (1000) log in and wait in select; server memory per client
  loopback  no server: TCP ping-pong and one-way frame rate over 127.0.0.1; --count (100000)
            one-way frames and a tenth as many round trips
  free-port prints a port on 127.0.0.1 that is free now
Common options:
  --host 127.0.0.1  --port N  --server-pid PID (server CPU, RSS and threads from /proc)
  --duration S (10) cap on the measured phase   --drain S (30) cap on setup and collection
  --prefix P (qsb) account names   --password PW (pw)
  --receiver-port N (--port)  --receiver-host H (--host)  dm and latency only: the
         receivers log in and select there while the senders send on --host/--port, so
         that each message crosses from one node of a cluster to another
  --tls  speak TLS to the port, taking any certificate (every workload but loopback)
  --ws   the commands as JSON messages over the WebSocket at /ws of the port: the
         server's http_port (with --tls, its https_port); every workload but loopback
Prints one JSON line on standard output and a summary on standard error; exits 1 when the
workload cannot run.
)";
}

} // namespace qsb
