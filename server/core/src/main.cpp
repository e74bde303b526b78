// qsserver: the Quillspeak server, in a console (--console) or as the systemd service
// qsserverd (no arguments or --service), which it also installs and removes.
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <string>
#include <sys/file.h>
#include <vector>
#include <systemd/sd-daemon.h>

#include "cluster_directory.h"
#include "cluster_node.h"
#include "qs/server/logic/log.h"
#include "qs/server/logic/log_redaction.h"
#include "qs/server/core/network.h"
#include "qs/server/core/service_unit.h"
#include "qs/server/logic/settings.h"
#include "qs/server/logic/settings_file.h"
#include "qs/store/db_error_text.h"
#include "qs/store/store_codes.h"
#include "qs/version.h"

namespace {

std::atomic<bool> running{false}; // set by run_server, cleared by stop_server

// SIGINT and SIGTERM stop the server; SIGHUP reopens the log (after log rotation).
sigset_t stop_signals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

void print_banner()
{
    qs::console_line("Quillspeak server qsserver");
    qs::console_line("Version " QS_VERSION);
    qs::console_line("Stop it with Ctrl+C or SIGTERM; pending messages are kept.");
    qs::console_line("");
}

void print_usage(std::ostream& out)
{
    out << "Usage:\n"
           "Start server: qsserver --console\n"
           "Install service: qsserver --service install [--user NAME]\n"
           "Uninstall service: qsserver --service uninstall\n"
           "Run as the service: qsserver [--service]\n"
           "Help and version: qsserver --help | --version\n"
        << std::flush;
}

// Looks for SIGINT or SIGTERM every sleep_ticks milliseconds while running; SIGHUP
// reopens the log.
void wait_for_stop(const qs::settings& config)
{
    const sigset_t set = stop_signals();
    const long ms = config.sleep_ticks;
    const timespec tick{ms / 1000, (ms % 1000) * 1000000L};
    while (running) {
        const int signal = sigtimedwait(&set, nullptr, &tick);
        if (signal == SIGHUP)
            qs::reopen_log();
        else if (signal > 0)
            running = false;
    }
}

// A node of a cluster: its lease and bus, and the directory the state uses through them.
struct cluster_membership {
    std::unique_ptr<qs::cluster_node> node;
    qs::cluster_directory* directory = nullptr; // owned by the state

    // The directory stops using the node before the node goes.
    ~cluster_membership()
    {
        if (directory) {
            directory->stop_intake();
            directory->detach();
        }
    }
};

void stop_server(qs::server_state& state, qs::network& net, cluster_membership& cluster)
{
    state.begin_stop();
    net.stop();
    if (cluster.directory)
        cluster.directory->stop_intake(); // deliveries from now on wait for their sender's node to store them
    state.store_all();
    if (cluster.directory)
        cluster.directory->detach();
    cluster.node.reset(); // the node's lease ends, and its sessions are released
    qs::close_log();
    running = false;
}

qs::state_options state_options(const qs::settings& config)
{
    qs::state_options options;
    options.config = config;
    options.database.size = config.db_connections;
    options.database.timeout_seconds = static_cast<unsigned>(config.db_timeout);
    options.store_retry = std::chrono::seconds(config.store_retry);
    return options;
}

// Stores what an earlier stop could not; the file stays when the database refuses.
void merge_recovery(qs::server_state& state)
{
    try {
        if (const auto merged = state.merge_recovery(); merged > 0)
            qs::log_line("Stored " + std::to_string(merged) + " pending messages kept by the last stop.");
    } catch (...) {
        qs::log_error("Could not store the messages kept by the last stop: " + qs::reason_of(std::current_exception()) +
                      "; they stay for the next start.");
    }
}

// Fails the start, before systemd hears READY=1, when the database cannot be used.
bool open_database(qs::server_state& state, std::string& kind)
{
    try {
        kind = state.check_database();
        return true;
    } catch (const qs::db_error& e) {
        const std::string why = "cannot use the database \"Quillspeak Database\" " + qs::db_error_clause(e);
        qs::log_line(why);
        std::cerr << "qsserver: " << why << std::endl;
    }
    qs::close_log();
    return false;
}

// In cluster mode the node joins before the server listens: a node that cannot fails
// the start. The bus does not have to answer yet.
bool join_cluster(qs::server_state& state, const std::string& database, cluster_membership& cluster)
{
    const qs::settings& config = state.config();
    auto& node = cluster.node;
    if (config.cluster_urls.empty())
        return true;
    std::string why;
    if (database != "PostgreSQL") {
        why = "cluster_url needs the database on PostgreSQL; \"Quillspeak Database\" is on " + database;
    } else {
        qs::cluster_node::options o;
        o.urls = config.cluster_urls;
        o.name = config.node_name.empty() ? qs::default_node_name(config.port) : config.node_name;
        o.lease = std::chrono::seconds(config.node_lease);
        o.database = state_options(config).database;
        node = std::make_unique<qs::cluster_node>(std::move(o));
        if (node->start(why)) {
            const auto answer_limit =
                std::chrono::milliseconds(config.spill_delay_ms) + 2 * std::chrono::seconds(config.node_lease);
            auto directory = std::make_unique<qs::cluster_directory>(state, *node, answer_limit);
            cluster.directory = directory.get();
            state.use_directory(std::move(directory));
            cluster.directory->start();
            return true;
        }
        node.reset();
    }
    qs::log_error("Cannot start: " + why + ".");
    std::cerr << "qsserver: " << why << std::endl;
    qs::close_log();
    return false;
}

// Where the server listens, by the ports it bound: a port the kernel picked is named.
std::string listen_address(const qs::settings& config, const qs::listening_ports& ports)
{
    const auto host_of = [](const std::string& a) { return a.find(':') == std::string::npos ? a : "[" + a + "]"; };
    const std::string host = host_of(config.bind_address);
    std::string at = host + ":" + std::to_string(ports.port);
    const auto also = [&at](const char* what, const std::string& on, int port) {
        if (port != 0)
            at += std::string(" and ") + what + " on " + on + ":" + std::to_string(port);
    };
    also("TLS", host, ports.tls_port);
    also("HTTP", host, ports.http_port);
    also("HTTPS", host, ports.https_port);
    also("metrics", host_of(config.metrics_address), ports.metrics_port);
    return at;
}

// The start-up order of both modes; returns the exit status.
int run_server(bool as_service)
{
    if (!as_service)
        print_banner();
    std::vector<std::string> notices;
    qs::settings config;
    const auto complaints = qs::read_settings("qsserver.conf", config, &notices);
    qs::set_log_level(config.least_log_level);
    qs::open_log(config.log_path);
    for (const auto& line : complaints) {
        qs::log_warning(line);
        qs::console_line(line);
    }
    for (const auto& line : notices) {
        qs::log_line(line);
        qs::console_line(line);
    }
    qs::store_codes::set_max_field_len(config.max_field_len);
    qs::server_state state(state_options(config));
    std::string database;
    if (!open_database(state, database))
        return 1;
    cluster_membership cluster;
    if (!join_cluster(state, database, cluster))
        return 1;
    merge_recovery(state);
    qs::network net(state);
    if (std::string why; !net.start(why)) {
        std::cerr << "qsserver: " << why << std::endl;
        qs::close_log();
        return 1;
    }
    const std::string listening = "Listening on " + listen_address(config, net.ports()) +
                                  "; database \"Quillspeak Database\" (" + database + ").";
    qs::log_line(listening);
    qs::console_line(listening);
    running = true;
    if (as_service)
        sd_notify(0, "READY=1");
    wait_for_stop(config);
    if (as_service)
        sd_notify(0, "STOPPING=1");
    stop_server(state, net, cluster);
    return 0;
}

int run_console()
{
    qs::console_text("Running qsserver in console mode...");
    return run_server(false);
}

int run_service()
{
    qs::console_text("Running qsserverd as NT service...");
    if (std::getenv("NOTIFY_SOCKET") == nullptr) {
        qs::console_line("Error running service");
        std::cerr << "qsserver: not started by systemd; to run it in a terminal: qsserver --console\n";
        return 1;
    }
    // One qsserverd per working directory; the lock goes with the process.
    const int lock = ::open("qsserverd.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    if (lock == -1 || ::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        qs::console_line("Already running");
        return 1;
    }
    return run_server(true);
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    const sigset_t set = stop_signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr); // every thread inherits it; only wait_for_stop takes them

    const std::vector<std::string> args(argv + 1, argv + argc);
    const auto is = [&](std::size_t i, std::initializer_list<const char*> words) {
        return args.size() > i && std::find(words.begin(), words.end(), args[i]) != words.end();
    };
    if (args.empty() || (args.size() == 1 && is(0, {"--service"})))
        return run_service();
    if (args.size() == 1 && is(0, {"--console"}))
        return run_console();
    if (args.size() == 1 && is(0, {"--help", "-h"})) {
        print_usage(std::cout);
        return 0;
    }
    if (args.size() == 1 && is(0, {"--version", "-V"})) {
        std::cout << "qsserver " QS_VERSION << std::endl;
        return 0;
    }
    if (is(0, {"--service"}) && is(1, {"install"}) && (args.size() == 2 || (args.size() == 4 && is(2, {"--user"}))))
        return qs::install_service(args.size() == 4 ? args[3] : "quillspeak") ? 0 : 1;
    if (args.size() == 2 && is(0, {"--service"}) && is(1, {"uninstall"}))
        return qs::uninstall_service() ? 0 : 1;
    print_usage(std::cerr);
    return 2;
}
