#include "live_figures.h"

#include <algorithm>
#include <cstdint>
#include <iomanip>
#include <sstream>
#include <vector>

namespace qs::admin {

namespace {

using sample_map = std::map<std::string, double>;

std::string whole(double value)
{
    return std::to_string(static_cast<std::int64_t>(value));
}

double value_of(const sample_map& s, const std::string& series)
{
    const auto it = s.find(series);
    return it == s.end() ? 0 : it->second;
}

// The value of a label in a series name: label_of("x{a=\"b\"}", "a") is "b".
std::string label_of(const std::string& series, const std::string& label)
{
    const std::string key = label + "=\"";
    const auto at = series.find(key);
    if (at == std::string::npos)
        return "";
    const auto from = at + key.size();
    return series.substr(from, series.find('"', from) - from);
}

// The samples of one metric, whatever their labels.
std::vector<std::pair<std::string, double>> family(const sample_map& s, const std::string& name)
{
    std::vector<std::pair<std::string, double>> out;
    for (auto it = s.lower_bound(name + "{"); it != s.end() && it->first.rfind(name + "{", 0) == 0; ++it)
        out.emplace_back(it->first, it->second);
    return out;
}

void connections(const sample_map& s, std::ostream& out)
{
    double total = 0;
    std::string each;
    for (const auto& [series, value] : family(s, "qs_connections")) {
        total += value;
        each += (each.empty() ? "" : ", ") + label_of(series, "transport") + " " + whole(value);
    }
    out << "  connections:      " << whole(total) << " (" << each << ")\n";
}

void commands(const sample_map& s, std::ostream& out)
{
    std::map<std::string, double> by_result;
    std::map<std::string, double> by_word;
    for (const auto& [series, value] : family(s, "qs_commands_total")) {
        by_result[label_of(series, "result")] += value;
        by_word[label_of(series, "command")] += value;
    }
    out << "  commands:         " << whole(by_result["ok"]) << " ok, " << whole(by_result["refused"]) << " refused, "
        << whole(by_result["failed"]) << " failed\n";
    std::vector<std::pair<std::string, double>> busiest(by_word.begin(), by_word.end());
    std::stable_sort(busiest.begin(), busiest.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    std::string top;
    for (std::size_t i = 0; i < busiest.size() && i < 5 && busiest[i].second > 0; ++i)
        top += (top.empty() ? "" : ", ") + busiest[i].first + " " + whole(busiest[i].second);
    if (!top.empty())
        out << "  busiest commands: " << top << "\n";
}

void database(const sample_map& s, std::ostream& out)
{
    out << "  database:         " << (value_of(s, "qs_database_unavailable") != 0 ? "UNAVAILABLE" : "available") << "; "
        << whole(value_of(s, "qs_database_connections_in_use")) << " connections in use, "
        << whole(value_of(s, "qs_database_connections_waiting")) << " waiting; "
        << whole(value_of(s, "qs_database_statement_timeouts_total")) << " statement time-outs\n";
}

void event_loops(const sample_map& s, std::ostream& out)
{
    const auto lags = family(s, "qs_event_loop_lag_seconds");
    double most = 0;
    for (const auto& [series, value] : lags)
        most = std::max(most, value);
    std::ostringstream seconds;
    seconds << std::fixed << std::setprecision(3) << most;
    out << "  event loops:      " << lags.size() << ", the latest tick " << seconds.str() << " s late at most\n";
}

} // namespace

void print_live_figures(const sample_map& s, std::ostream& out)
{
    for (const auto& [series, value] : family(s, "qs_build_info"))
        out << "  version:          " << label_of(series, "version") << "\n";
    connections(s, out);
    out << "  users logged in:  " << whole(value_of(s, "qs_users_logged_in")) << "\n"
        << "  selects parked:   " << whole(value_of(s, "qs_selects_parked")) << "\n"
        << "  messages:         " << whole(value_of(s, "qs_messages_delivered_total")) << " delivered, "
        << whole(value_of(s, "qs_messages_stored_total")) << " stored, "
        << whole(value_of(s, "qs_messages_refused_total")) << " refused\n";
    commands(s, out);
    out << "  logins:           " << whole(value_of(s, "qs_login_failures_total")) << " failed, "
        << whole(value_of(s, "qs_logins_throttled_total")) << " throttled\n";
    database(s, out);
    event_loops(s, out);
}

} // namespace qs::admin
