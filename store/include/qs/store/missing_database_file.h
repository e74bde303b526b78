#pragma once

#include <string>

namespace qs {

// The file named by the Database setting of "Quillspeak Database" when its driver is
// SQLite's and that file does not exist; "" otherwise. The SQLite driver itself only
// says "connect failed".
std::string missing_database_file();

} // namespace qs
