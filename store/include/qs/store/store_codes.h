#pragma once

// Failure codes of the record layer (qs::exception), as the server and qsadmin number
// them: from 10. A program may count them from another number (qsprobe: from 0).
namespace qs::store_codes {

inline constexpr int first = 10;

inline constexpr int open_failed = first + 0;   // the record object could not be opened
inline constexpr int no_such_user = first + 1;  // user_info, msg_pool: no row for the name
inline constexpr int no_such_group = first + 2; // group_info: no row for the name
inline constexpr int requery_failed = first + 3;
inline constexpr int value_too_long = first + 4; // a write longer than the column limit; nothing written

inline constexpr int last = value_too_long;

// code as a program counting the codes above from program_first shows it; any other
// code as it is.
constexpr int counted_from(int program_first, int code)
{
    return code >= first && code <= last ? code - first + program_first : code;
}

// The most characters a column may hold: 2048 until the program says otherwise (the
// server's max_field_len setting, qsprobe's 255). The program sets it once at start.
int max_field_len();
void set_max_field_len(int characters);

} // namespace qs::store_codes
