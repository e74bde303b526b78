#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qs::admin {

struct command;

struct command_line {
    const command* what = nullptr;
    std::vector<std::string> operands; // as many as the command takes
    bool hashed = false;               // --hashed, where the command takes it
};

// Throws usage_error for an unknown command or option, or a wrong number of operands.
command_line parse_command_line(int argc, char** argv);

void print_usage(std::ostream& out);

} // namespace qs::admin
