#include "metrics_page.h"

#include <cstdint>

#include "qs/server/logic/command_interpreter.h"
#include "qs/server/logic/server_metrics.h"

namespace qs {

namespace {

// One metric family: its help and type lines, then its samples.
class page {
public:
    void family(const char* name, const char* type, const char* help)
    {
        name_ = name;
        text_ += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    }
    void sample(double value, const std::string& labels = "")
    {
        text_ += name_ + (labels.empty() ? "" : "{" + labels + "}") + " " + number(value) + "\n";
    }
    template <typename Atomic>
    void count(const char* name, const char* help, const Atomic& value, const char* type = "counter")
    {
        family(name, type, help);
        sample(static_cast<double>(value.load(std::memory_order_relaxed)));
    }
    std::string take() { return std::move(text_); }

private:
    static std::string number(double value)
    {
        const auto whole = static_cast<std::int64_t>(value);
        return static_cast<double>(whole) == value ? std::to_string(whole) : std::to_string(value);
    }

    std::string name_;
    std::string text_;
};

constexpr const char* transport_names[transport_count] = {"tcp", "tls", "ws", "wss", "http", "https"};
constexpr const char* result_names[command_result_count] = {"ok", "refused", "failed"};

void commands(page& p, const server_metrics& m)
{
    p.family("qs_commands_total", "counter", "Commands run, by command word and how they ended.");
    auto words = command_interpreter::keywords();
    words.resize(server_metrics::command_slots, "unknown");
    for (std::size_t c = 0; c < words.size(); ++c)
        for (std::size_t r = 0; r < command_result_count; ++r)
            p.sample(static_cast<double>(m.commands[c][r].load(std::memory_order_relaxed)),
                     "command=\"" + words[c] + "\",result=\"" + result_names[r] + "\"");
}

void database_samples(page& p, server_state& state)
{
    const database_figures now = state.database_now();
    p.family("qs_database_connections_in_use", "gauge", "Database connections borrowed now.");
    p.sample(static_cast<double>(now.in_use));
    p.family("qs_database_connections_waiting", "gauge", "Threads waiting to borrow a database connection.");
    p.sample(static_cast<double>(now.waiting));
    p.family("qs_database_unavailable", "gauge", "1 while the database counts as unavailable.");
    p.sample(now.available ? 0 : 1);
    p.family("qs_database_statement_timeouts_total", "counter", "Database statements that ran past db_timeout.");
    p.sample(static_cast<double>(now.timeouts));
}

} // namespace

std::string metrics_page(server_state& state, const std::vector<std::chrono::microseconds>& loop_lags)
{
    const server_metrics& m = metrics();
    page p;
    p.family("qs_build_info", "gauge", "The version of this server.");
    p.sample(1, std::string("version=\"") + command_interpreter::version + "\"");
    p.family("qs_connections", "gauge", "Open connections by transport.");
    for (std::size_t t = 0; t < transport_count; ++t)
        p.sample(static_cast<double>(m.connections[t].load(std::memory_order_relaxed)),
                 std::string("transport=\"") + transport_names[t] + "\"");
    const auto census = state.sessions().count();
    p.family("qs_users_logged_in", "gauge", "Users logged in on this server.");
    p.sample(static_cast<double>(census.users));
    p.family("qs_selects_parked", "gauge", "Selects waiting in their sessions.");
    p.sample(static_cast<double>(census.parked_selects));
    commands(p, m);
    p.count("qs_messages_delivered_total", "Messages put into a logged-in user's session.", m.messages_delivered);
    p.count("qs_messages_stored_total", "Messages stored for a user not logged in here.", m.messages_stored);
    p.count("qs_messages_refused_total", "Messages refused: box full, too long, no such user, or a '|'.",
            m.messages_refused);
    p.count("qs_login_failures_total", "Logins with a wrong name or password.", m.login_failures);
    p.count("qs_logins_throttled_total", "Logins refused after too many failures.", m.logins_throttled);
    database_samples(p, state);
    p.family("qs_event_loop_lag_seconds", "gauge", "How late each event loop last ran its tick.");
    for (std::size_t i = 0; i < loop_lags.size(); ++i)
        p.sample(static_cast<double>(loop_lags[i].count()) / 1e6, "loop=\"" + std::to_string(i) + "\"");
    return p.take();
}

} // namespace qs
