#pragma once

// Failure codes of the record layer (qs::exception). The server numbers them from 10,
// the database probe (built with QS_STORE_TESTER) from 0.
namespace qs::store_codes {

#ifdef QS_STORE_TESTER
inline constexpr int base = 0;
#else
inline constexpr int base = 10;
#endif

inline constexpr int open_failed = base + 0;   // the record object could not be opened
inline constexpr int no_such_user = base + 1;  // user_info, msg_pool: no row for the name
inline constexpr int no_such_group = base + 2; // group_info: no row for the name
inline constexpr int requery_failed = base + 3;
inline constexpr int value_too_long = base + 4; // a write longer than the column limit; nothing written

// The most characters a column may hold: 2048 in the server until its settings say
// otherwise, 255 in the probe. The program sets it once at start.
int max_field_len();
void set_max_field_len(int characters);

} // namespace qs::store_codes
