#pragma once

#include <cstddef>
#include <string_view>

namespace qs::admin {

struct command_line;

// One command: its name, how many operands it takes (the most, when operand_optional),
// whether --hashed applies to it, and
// what runs it on the data source "Quillspeak Database". run throws failure, db_error
// or the record layer's exception.
struct command {
    std::string_view name;
    std::size_t operands;
    bool takes_hashed;
    void (*run)(const command_line&);
    bool operand_optional = false; // its one operand may be left out
};

// The command of that name; null when there is none.
const command* find_command(std::string_view name);

} // namespace qs::admin
