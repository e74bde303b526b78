#include "qs/store/db_error_text.h"

#include <algorithm>

#include "qs/store/missing_database_file.h"

namespace qs {

std::string db_error_text(const db_error& e)
{
    const std::string file = missing_database_file();
    return "SQLSTATE " + e.sqlstate() + ": " + one_line(e.what()) +
           (file.empty() ? "" : "; the database file " + file + " does not exist");
}

std::string one_line(std::string text)
{
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

} // namespace qs
