#pragma once

#include <map>
#include <ostream>
#include <string>

namespace qs::admin {

// The samples of a server's /metrics page (parse_samples) as lines for a person: its
// connections, users, messages, commands, logins, database and event loops.
void print_live_figures(const std::map<std::string, double>& samples, std::ostream& out);

} // namespace qs::admin
