#include "failure_text.h"

#include <algorithm>

#include "missing_database_file.h"
#include "qs/store/store_codes.h"

namespace qs::admin {

namespace {

// Drivers may end or break their messages with line feeds.
std::string one_line(std::string text)
{
    std::replace_if(text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

} // namespace

std::string failure_text(const db_error& e)
{
    const std::string file = missing_database_file();
    return "SQLSTATE " + e.sqlstate() + ": " + one_line(e.what()) +
           (file.empty() ? "" : "; the database file " + file + " does not exist");
}

std::string failure_text(const exception& e)
{
    switch (e.code()) {
    case store_codes::no_such_user:
        return "no such user";
    case store_codes::no_such_group:
        return "no such group";
    case store_codes::value_too_long:
        return "a value is longer than " + std::to_string(store_codes::max_field_len()) + " characters";
    default:
        return "the record layer failed with code " + std::to_string(e.code());
    }
}

} // namespace qs::admin
