#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qs::test {

struct program_result {
    int status = -1; // the exit status; -1 when it did not end by itself within a minute
    std::string out; // on a terminal: everything shown there, with "\n" line ends
    std::string err;
};

// Runs a program to its end with the arguments, the test's environment plus env
// ("NAME=value", replacing a variable of that name) and standard input read from
// stdin_fd (-1: /dev/null). One that runs for a minute is killed.
program_result run_program(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& env = {}, int stdin_fd = -1);

// The same with standard input a file holding input.
program_result run_program_with_input(const std::string& program, const std::vector<std::string>& args,
                                      const std::string& input, const std::vector<std::string>& env = {});

// Runs a program on a new pseudo-terminal, typing each reply's text, as it is, once its
// prompt has appeared after the previous one.
program_result run_on_terminal(const std::string& program, const std::vector<std::string>& args,
                               const std::vector<std::pair<std::string, std::string>>& replies);

} // namespace qs::test
