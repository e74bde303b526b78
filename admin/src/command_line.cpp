#include "command_line.h"

#include <algorithm>

#include "admin_error.h"
#include "commands.h"

namespace qs::admin {

namespace {

// -h and -V stand for --help and --version.
const command& command_named(std::string_view name)
{
    const command* c = find_command(name == "-h" ? "--help" : name == "-V" ? "--version" : name);
    if (c == nullptr)
        throw usage_error(name.empty() ? "no command given" : "unknown command '" + std::string(name) + "'");
    return *c;
}

// Operands, and --hashed where the command takes it; "--" ends the options.
void read_rest(command_line& cl, const std::vector<std::string>& rest)
{
    bool options = true;
    for (const auto& arg : rest) {
        if (options && arg == "--")
            options = false;
        else if (options && arg == "--hashed" && cl.what->takes_hashed)
            cl.hashed = true;
        else if (options && arg.size() > 1 && arg[0] == '-')
            throw usage_error("unknown option '" + arg + "' for " + std::string(cl.what->name));
        else
            cl.operands.push_back(arg);
    }
    if (cl.operands.size() != cl.what->operands && !(cl.what->operand_optional && cl.operands.empty()))
        throw usage_error(std::string(cl.what->name) + " takes " +
                          (cl.what->operands == 0 ? "no operand" : "one operand"));
}

} // namespace

command_line parse_command_line(int argc, char** argv)
{
    command_line cl;
    cl.what = &command_named(argc > 1 ? argv[1] : "");
    read_rest(cl, std::vector<std::string>(argv + std::min(argc, 2), argv + argc));
    return cl;
}

void print_usage(std::ostream& out)
{
    out << "Usage: qsadmin COMMAND [ARGUMENT]\n"
           "Works on the tables of the ODBC data source \"Quillspeak Database\" (ODBCINI names\n"
           "the odbc.ini to use); the server need not run.\n"
           "\n"
           "  adduser NAME [--hashed]  create a user\n"
           "  passwd NAME [--hashed]   set a user's password\n"
           "  users                    each user with the counts of stored personal, group\n"
           "                           and custom messages\n"
           "  groups                   each group with the counts of members and masters\n"
           "  group NAME               the members and masters of a group\n"
           "  nodes                    the nodes of a cluster on this PostgreSQL database: live\n"
           "                           or not, lease left, start and sessions held\n"
           "  check                    whether the three tables open with every column; on\n"
           "                           PostgreSQL also the cluster tables (a warning)\n"
           "  backup FILE              copy a SQLite database to FILE, a new file\n"
           "  stats [HOST:PORT]        a running server's figures from its metrics port\n"
           "                           (default: metrics_address and metrics_port of\n"
           "                           ./qsserver.conf), then the database's totals\n"
           "  -h, --help; -V, --version\n"
           "\n"
           "The password is typed twice on a terminal, else read as one line of input;\n"
           "--hashed stores its Argon2id hash. Exit status: 0 done, 1 failed, 2 bad usage.\n";
}

} // namespace qs::admin
