#include "failure_reason.h"

#include <algorithm>

#include "qs/fault/exception.h"
#include "qs/store/db_error.h"
#include "missing_database_file.h"

namespace qs::probe {

namespace {

// Drivers may end or break their messages with line feeds.
std::string one_line(std::string text)
{
    std::replace_if(text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

} // namespace

std::string failure_reason(const std::exception_ptr& failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const db_error& e) {
        const std::string file = missing_database_file();
        return "SQLSTATE " + e.sqlstate() + ": " + one_line(e.what()) +
               (file.empty() ? "" : "; the database file " + file + " does not exist");
    } catch (const exception& e) {
        return "record layer failure " + std::to_string(e.code());
    } catch (const std::exception& e) {
        return one_line(e.what());
    } catch (...) {
        return "unknown failure";
    }
}

} // namespace qs::probe
