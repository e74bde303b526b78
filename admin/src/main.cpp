// qsadmin: the operator's tool on the tables of "Quillspeak Database": accounts,
// listings, a check and a backup, without a running server.
#include <iostream>

#include "admin_error.h"
#include "command_line.h"
#include "commands.h"
#include "failure_text.h"
#include "qs/store/db_error_text.h"

namespace {

int fail(const std::string& reason)
{
    std::cerr << "qsadmin: " << reason << std::endl;
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace qs::admin;
    try {
        const command_line cl = parse_command_line(argc, argv);
        cl.what->run(cl);
        return 0;
    } catch (const usage_error& e) {
        std::cerr << "qsadmin: " << e.what() << " (qsadmin --help lists the commands)" << std::endl;
        return 2;
    } catch (const failure& e) {
        return fail(e.what());
    } catch (...) {
        return fail(qs::failure_text(std::current_exception(), failure_text));
    }
}
