#pragma once

#include <string>

#include "qs/store/db_error.h"

namespace qs {

// One line for an operator: the driver's SQLSTATE and messages, and the missing SQLite
// file if that is why.
std::string db_error_text(const db_error& e);

// text with its line breaks as spaces and no trailing spaces; drivers may end or break
// their messages with line feeds.
std::string one_line(std::string text);

} // namespace qs
