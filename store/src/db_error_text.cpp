#include "qs/store/db_error_text.h"

#include <algorithm>

#include "qs/store/missing_database_file.h"
#include "qs/store/store_codes.h"

namespace qs {

std::string db_error_text(const db_error& e, file_check check)
{
    const std::string file = check == file_check::look ? missing_database_file() : std::string();
    return "SQLSTATE " + e.sqlstate() + ": " + one_line(e.what()) +
           (file.empty() ? "" : "; the database file " + file + " does not exist");
}

std::string db_error_clause(const db_error& e)
{
    return "(SQLSTATE " + e.sqlstate() + "): " + one_line(e.what());
}

std::string one_line(std::string text)
{
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

record_words counted_codes(std::string prefix, int first_code)
{
    return [text = std::move(prefix), first_code](const exception& e) {
        return text + std::to_string(store_codes::counted_from(first_code, e.code()));
    };
}

std::string failure_text(const std::exception_ptr& failure, const record_words& words, file_check check)
{
    try {
        std::rethrow_exception(failure);
    } catch (const db_error& e) {
        return db_error_text(e, check);
    } catch (const exception& e) {
        return words(e);
    } catch (const std::exception& e) {
        return one_line(e.what());
    } catch (...) {
        return "unknown failure";
    }
}

} // namespace qs
