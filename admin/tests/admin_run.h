#pragma once

#include <string>
#include <utility>
#include <vector>

#include "program_run.h"

namespace qs::test {

using admin_result = program_result;

// Runs qsadmin with the arguments, input as standard input (a file, not a terminal), and
// the test's environment plus env ("NAME=value", replacing a variable of that name).
admin_result qsadmin(const std::vector<std::string>& args, const std::string& input = "",
                     const std::vector<std::string>& env = {});

// Runs qsadmin on a new pseudo-terminal, typing each reply's line once its prompt has
// appeared after the previous one.
admin_result qsadmin_on_terminal(const std::vector<std::string>& args,
                                 const std::vector<std::pair<std::string, std::string>>& replies);

} // namespace qs::test
