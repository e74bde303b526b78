#pragma once

#include <string>

#include "qs/store/odbc/connection.h"

namespace qs::admin {

// Throws failure unless name is one the server accepts for a new user (not empty, no '|')
// and no user has it.
void require_new_user(odbc::connection& conn, const std::string& name);

// The user's userinfo and msgpool rows, in one transaction; password as it is to be stored.
void insert_user(odbc::connection& conn, const std::string& name, const std::string& password);

// Replaces the stored password of an existing user.
void set_password(odbc::connection& conn, const std::string& name, const std::string& password);

} // namespace qs::admin
