#include "arguments.h"

#include <string_view>

namespace qs::probe {

namespace {

action option(std::string_view arg)
{
    if (arg == "--help" || arg == "-h")
        return action::help;
    if (arg == "--version" || arg == "-V")
        return action::version;
    return action::usage_error;
}

} // namespace

arguments parse_arguments(int argc, char** argv)
{
    if (argc < 2)
        return {};
    const action first = option(argv[1]);
    if (first == action::usage_error)
        return {first, argv[1]};
    if (argc > 2)
        return {action::usage_error, argv[2]};
    return {first, ""};
}

void print_usage(std::ostream& out)
{
    out << "Usage: qsprobe [-h | --help | -V | --version]\n"
           "Opens the tables userinfo, groupinfo and msgpool of the ODBC data source\n"
           "\"Quillspeak Database\" (ODBCINI names the odbc.ini to use) and changes nothing;\n"
           "on PostgreSQL also nodes and sessions, which cluster mode needs (a warning).\n"
           "Exit status: 0 when all three open, 1 when one does not, 2 on a bad argument.\n";
}

} // namespace qs::probe
