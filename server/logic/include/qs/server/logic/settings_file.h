#pragma once

#include <string>
#include <vector>

#include "qs/server/logic/settings.h"

namespace qs {

// Fills out from a key=value file (missing file: out unchanged), writing
// "Initializing settings..." and "Ok." to the console. Returns one log line for every
// value the server cannot run with, which then keeps the value out had; notices, when given,
// gets one line for every key that is not known (spaces around '=' included).
std::vector<std::string> read_settings(const std::string& file_name, settings& out,
                                       std::vector<std::string>* notices = nullptr);

} // namespace qs
