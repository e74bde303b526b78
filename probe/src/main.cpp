// qsprobe: opens each of the server's three tables once and tells the operator
// whether the database "Quillspeak Database" is set up. Changes nothing.
#include <iostream>

#include "key_press.h"
#include "qs/store/group_info.h"
#include "qs/store/msg_pool.h"
#include "qs/store/user_info.h"

namespace {

void prompt_for_key(const char* text)
{
    std::cout << text << std::flush;
    qs::wait_for_key();
    std::cout << std::endl;
}

void try_table(const char* table, qs::recordset& record)
{
    std::cout << "Trying to access table: " << table << "..." << std::flush;
    record.open();
    record.close();
    std::cout << "Ok." << std::endl;
}

} // namespace

int main()
{
    std::cout << "Quillspeak database probe 0.1 - checks the tables of \"Quillspeak Database\"" << std::endl;
    prompt_for_key("Press any key to begin the test...");
    qs::user_info users;
    qs::group_info groups;
    qs::msg_pool pools;
    try {
        try_table("userinfo", users);
        try_table("groupinfo", groups);
        try_table("msgpool", pools);
        std::cout << std::endl << "Finished" << std::endl;
    } catch (...) {
        std::cout << "Failed." << std::endl << "Please check the table(s) in the database." << std::endl;
    }
    prompt_for_key("Press any key to continue...");
    return 0;
}
