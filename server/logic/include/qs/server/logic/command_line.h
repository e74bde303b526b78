#pragma once

#include <string>
#include <vector>

namespace qs {

// Splits a command line at single spaces into args (the command word first), after
// trimming leading and trailing spaces. A quoted argument ("two words") becomes one,
// without its quotes: joining stops at the first following argument that ends with a
// quote. A lone " becomes the empty argument. With an odd number of quotes the line
// "Invalid command-line." goes to the console and the arguments stay as split.
void parse_command_line(std::vector<std::string>& args, std::string& line);

} // namespace qs
