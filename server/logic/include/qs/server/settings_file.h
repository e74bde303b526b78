#pragma once

#include <string>
#include <vector>

namespace qs {

// Fills config from a key=value file (missing file: all defaults), writing
// "Initializing settings..." and "Ok." to the console. Returns one log line for every
// value the server cannot run with, which then keeps its default.
std::vector<std::string> read_settings(const std::string& file_name);

} // namespace qs
