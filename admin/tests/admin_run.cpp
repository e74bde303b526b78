#include "admin_run.h"

namespace qs::test {

admin_result qsadmin(const std::vector<std::string>& args, const std::string& input,
                     const std::vector<std::string>& env)
{
    return run_program_with_input(QS_ADMIN_PATH, args, input, env);
}

admin_result qsadmin_on_terminal(const std::vector<std::string>& args,
                                 const std::vector<std::pair<std::string, std::string>>& replies)
{
    std::vector<std::pair<std::string, std::string>> lines(replies);
    for (auto& [prompt, typed] : lines)
        typed += "\n";
    return run_on_terminal(QS_ADMIN_PATH, args, lines);
}

} // namespace qs::test
