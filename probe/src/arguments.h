#pragma once

#include <ostream>
#include <string>

namespace qs::probe {

enum class action { check, help, version, usage_error };

struct arguments {
    action what = action::check;
    std::string unexpected; // the first argument not understood, with usage_error
};

// Nothing (check), --help, --version, or anything else.
arguments parse_arguments(int argc, char** argv);

void print_usage(std::ostream& out);

} // namespace qs::probe
