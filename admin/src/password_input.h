#pragma once

#include <string>

namespace qs::admin {

// The new password: typed twice without echo when standard input is a terminal (the
// prompts go to standard error), otherwise the first line of standard input. Throws
// failure when it is missing or empty, or when the two typed differ.
std::string read_new_password();

} // namespace qs::admin
