#pragma once

#include <string>

#include "qs/server/logic/accounts.h"
#include "qs/server/logic/settings.h"

namespace qs {

class database;

// Groups in the database: their creation and their member and master lists. Safe from
// any thread; holds no lock of its own (the database is thread-safe); every call needs
// the database, so it throws would_block on an event loop.
class groups {
public:
    groups(database& db, accounts& users, const settings& config) : db_(db), users_(users), config_(config) {}
    groups(const groups&) = delete;
    groups& operator=(const groups&) = delete;

    bool exists(const std::string& name);
    void create(const std::string& group);
    void get_member_list(const std::string& group, std::string& out);
    void set_member_list(const std::string& group, const std::string& list);
    void get_master_list(const std::string& group, std::string& out);
    void set_master_list(const std::string& group, const std::string& list);
    bool is_member(const std::string& user, const std::string& group);
    bool is_master(const std::string& user, const std::string& group);

private:
    void read_list(const std::string& group, bool masters, std::string& out);
    void write_list(const std::string& group, bool masters, const std::string& list);
    bool in_list(const std::string& user, const std::string& group, bool masters);

    database& db_;           // thread-safe itself; owned by server_state
    accounts& users_;        // thread-safe itself; owned by server_state
    const settings& config_; // server_state's
};

} // namespace qs
