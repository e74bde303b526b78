#pragma once

#include <string>
#include <vector>

namespace qs {

// Fills config from a key=value file (missing file: all defaults), writing
// "Initializing settings..." and "Ok." to the console. Returns one log line for every
// value the server cannot run with, which then keeps its default; notices, when given,
// gets one line for every key that is not known (spaces around '=' included).
std::vector<std::string> read_settings(const std::string& file_name, std::vector<std::string>* notices = nullptr);

} // namespace qs
