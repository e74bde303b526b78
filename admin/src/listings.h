#pragma once

#include <ostream>
#include <string>

#include "qs/store/odbc/connection.h"

namespace qs::admin {

// "NAME: P personal, G group, C custom": each user, by name, with the counts of messages
// stored for them.
void list_users(odbc::connection& conn, std::ostream& out);

// "NAME: M members, N masters": each group, by name.
void list_groups(odbc::connection& conn, std::ostream& out);

// "members: A, B" and "masters: A" of one group; throws failure when there is none.
void show_group(odbc::connection& conn, const std::string& name, std::ostream& out);

// "  users: U, groups: G" and "  stored messages: P personal, G group, C custom".
void print_totals(odbc::connection& conn, std::ostream& out);

} // namespace qs::admin
