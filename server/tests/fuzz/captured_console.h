#pragma once

#include <string>

namespace qs::fuzz {

// What the code under test wrote to the console through qs/server/log.h; the fuzzers
// link captured_console.cpp in place of the real log, and log-file writes are dropped.
std::string& console_output();

} // namespace qs::fuzz
