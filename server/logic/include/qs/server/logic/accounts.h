#pragma once

#include <optional>
#include <string>
#include <unordered_set>

#include "qs/server/logic/password_work.h"
#include "qs/server/logic/settings.h"
#include "qs/store/login_row.h"
#include "qs/sync/mutex.h"

namespace qs {

class database;

// Users in the database: new users, their information records, passwords and contact
// lists, and the names known to exist. Safe from any thread; every call but the
// known-name checks needs the database, so it throws would_block on an event loop.
// Refusals are qs::qsexcpt; a database that cannot be reached gives
// "The database is not available.".
//
// Locking: known_lock_ guards known_ alone, held for moments. Users are never deleted,
// so a name once known stays known.
class accounts {
public:
    accounts(database& db, const settings& config) : db_(db), config_(config) {}
    accounts(const accounts&) = delete;
    accounts& operator=(const accounts&) = delete;

    // new_user and set_info with a password come in steps, so that no database worker
    // waits on Argon2: each returns false, holding no lock, when it has set up work
    // (password_work) that must run first; called again with the same work once it has
    // run, it goes on. The overloads without work run every step here.
    bool new_user(const std::string& name, const std::string& password, password_work& work);
    void new_user(const std::string& name, const std::string& password);
    void info_record(const std::string& name, std::string& out);
    // The first nine fields, without the answer and the password.
    void public_record(const std::string& name, std::string& out);
    // The password when answer equals the stored, non-empty answer.
    void password_for(const std::string& name, const std::string& answer, std::string& out);
    bool set_info(const std::string& name, const std::string& items, password_work& work);
    void set_info(const std::string& name, const std::string& items);

    bool user_exists(const std::string& name);
    bool users_exist(const std::string& list);
    // Without the database: true only for a name known to exist.
    bool known(const std::string& name);
    void remember(const std::string& name);

    // What a login reads: the password, the contact list and the stored pools.
    std::optional<login_row> read_login(const std::string& name);
    // A password stored as typed becomes hash, unless it is no longer stored; a failure
    // is logged and leaves it as it was.
    void replace_with_hash(const std::string& name, const std::string& stored, const std::string& hash);

    void get_contact_list(const std::string& user, std::string& out);
    // Writes the list to the user's row; the caller tells the user's session.
    void write_contact_list(const std::string& user, const std::string& list);

private:
    database& db_;           // thread-safe itself; owned by server_state
    const settings& config_; // server_state's
    mutex known_lock_;
    std::unordered_set<std::string> known_ GUARDED_BY(known_lock_);
};

} // namespace qs
