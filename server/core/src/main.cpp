// qsserver: the Quillspeak server, in a console (--console) or as the systemd service
// qsserverd (no arguments or --service), which it also installs and removes.
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <sys/file.h>
#include <systemd/sd-daemon.h>

#include "qs/server/log.h"
#include "qs/server/network.h"
#include "qs/server/service_unit.h"
#include "qs/server/settings.h"
#include "qs/server/settings_file.h"
#include "qs/store/store_codes.h"

namespace {

std::atomic<bool> running{false};  // set by run_server, cleared by stop_server

sigset_t stop_signals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

void print_banner()
{
    qs::console_line("Quillspeak server qsserver");
    qs::console_line("Version 0.1");
    qs::console_line("Stop it with Ctrl+C or SIGTERM; pending messages are kept.");
    qs::console_line("");
}

void print_usage()
{
    qs::console_line("Usage:");
    qs::console_line("Start server: qsserver --console");
    qs::console_line("Install service: qsserver --service install");
    qs::console_line("Uninstall service: qsserver --service uninstall");
}

// Looks for SIGINT or SIGTERM every sleep_ticks milliseconds while running.
void wait_for_stop()
{
    const sigset_t set = stop_signals();
    const long ms = qs::config.sleep_ticks;
    const timespec tick{ms / 1000, (ms % 1000) * 1000000L};
    while (running) {
        if (sigtimedwait(&set, nullptr, &tick) > 0)
            running = false;
    }
}

void stop_server(qs::server_state& state, qs::network& net)
{
    state.begin_stop();
    net.stop();
    state.store_all();
    qs::close_log();
    running = false;
}

qs::state_options state_options()
{
    qs::state_options options;
    options.database.size = qs::config.db_connections;
    options.database.timeout_seconds = static_cast<unsigned>(qs::config.db_timeout);
    options.store_retry = std::chrono::seconds(qs::config.store_retry);
    return options;
}

// Stores what an earlier stop could not; the file stays when the database refuses.
void merge_recovery(qs::server_state& state)
{
    try {
        if (const auto merged = state.merge_recovery(); merged > 0)
            qs::log_line("Stored " + std::to_string(merged) + " pending messages kept by the last stop.");
    } catch (const std::exception& e) {
        qs::log_line(std::string("Could not store the messages kept by the last stop: ") + e.what() +
                     "; they stay for the next start.");
    }
}

// The start-up order of both modes; returns the exit status.
int run_server(bool as_service)
{
    if (!as_service)
        print_banner();
    const auto complaints = qs::read_settings("qsserver.conf");
    qs::open_log(qs::config.log_path);
    for (const auto& line : complaints)
        qs::log_line(line);
    qs::store_codes::set_max_field_len(qs::config.max_field_len);
    qs::server_state state(state_options());
    merge_recovery(state);
    qs::network net(state);
    if (std::string why; !net.start(why)) {
        std::cerr << "qsserver: " << why << std::endl;
        qs::close_log();
        return 1;
    }
    running = true;
    if (as_service)
        sd_notify(0, "READY=1");
    wait_for_stop();
    if (as_service)
        sd_notify(0, "STOPPING=1");
    stop_server(state, net);
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
        return 0;
    }
    // One qsserverd per working directory; the lock goes with the process.
    const int lock = ::open("qsserverd.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    if (lock == -1 || ::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        qs::console_line("Already running");
        return 0;
    }
    return run_server(true);
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    const sigset_t set = stop_signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);  // every thread inherits it; only wait_for_stop takes them

    const std::string first = argc > 1 ? argv[1] : "";
    const std::string second = argc > 2 ? argv[2] : "";
    if (argc == 1 || (argc == 2 && first == "--service"))
        return run_service();
    if (argc == 2 && first == "--console")
        return run_console();
    if (argc == 3 && first == "--service" && second == "install")
        qs::install_service();
    else if (argc == 3 && first == "--service" && second == "uninstall")
        qs::uninstall_service();
    else
        print_usage();
    return 0;
}
