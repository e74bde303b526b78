#pragma once

#include <exception>
#include <functional>
#include <string>

#include "qs/fault/exception.h"
#include "qs/store/db_error.h"

namespace qs {

// Whether a failure's text names a missing SQLite file: looking reads the data source's
// settings, which code that may run on an event loop must not.
enum class file_check { look, skip };

// One line for an operator: the driver's SQLSTATE and messages, and the missing SQLite
// file if that is why.
std::string db_error_text(const db_error& e, file_check check = file_check::look);

// "(SQLSTATE 08001): the driver's messages" on one line, to follow what failed.
std::string db_error_clause(const db_error& e);

// text with its line breaks as spaces and no trailing spaces; drivers may end or break
// their messages with line feeds.
std::string one_line(std::string text);

// A program's words for a record-layer failure (qs::exception).
using record_words = std::function<std::string(const exception&)>;

// prefix and the code, the store's codes counted from first_code (see store_codes.h).
record_words counted_codes(std::string prefix, int first_code);

// One line for what was thrown: a db_error as db_error_text says it, a qs::exception in
// the program's words, another std::exception by its text, anything else as
// "unknown failure". A program's own exception types are its to word before this.
std::string failure_text(const std::exception_ptr& failure, const record_words& words,
                         file_check check = file_check::look);

} // namespace qs
