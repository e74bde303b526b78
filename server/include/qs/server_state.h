#pragma once

#include <array>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

#include "qs/qsexcpt.h"
#include "qs/session.h"

namespace qs {

class msg_pool;

// The command logic: logged-in users in memory, everything else in the database.
// Every operation is safe from any number of threads. Refusals are qs::qsexcpt,
// whose message is the reply; record-layer failures pass as qs::exception or db_error.
//
// Locking: table_lock_ guards sessions_ and every field of every session. A user's
// lock (one of user_locks_, by name) makes moving that user's pools between the
// session and msgpool atomic: login's load, logout's store, and every delivery
// ("the session, else msgpool") hold it. Order: user lock, then table lock; never
// two user locks at once; no database work under the table lock.
class server_state {
public:
    enum class pool_kind { personal, group, custom };

    // Sessions.
    session_handle open_session(const std::string& name);  // exception(20) when present
    session_handle find_session(const std::string& name);  // null when absent
    void close_session(const session_handle& handle);
    bool is_active(const session_handle& handle);          // still in the table
    void publish_status(const session_handle& handle, const std::string& status);
    void get_status(const std::string& name, std::string& out);

    // Accounts.
    session_handle login(const std::string& name, const std::string& password);
    void logout(const session_handle& handle);
    // The end of a connection. When the pools cannot be stored, the session stays for
    // the user's next login to take over, and the failure is rethrown for the log.
    void logout_user(const std::string& name);
    // The same for a connection's own session handle.
    void end_session(const session_handle& handle);
    void new_user(const std::string& name, const std::string& password);
    void info_record(const std::string& name, std::string& out);
    // The first nine fields, without the answer and the password.
    void public_record(const std::string& name, std::string& out);
    // The password when answer equals the stored, non-empty answer.
    void password_for(const std::string& name, const std::string& answer, std::string& out);
    void set_info(const std::string& name, const std::string& items);

    // Messages, status and events.
    void send_message(const std::string& sender, const std::string& receiver, const std::string& text);
    void send_custom_message(const std::string& sender, const std::string& receiver, const std::string& text);
    void send_group_message(const std::string& sender, const std::string& group, const std::string& text);
    void get_message(const session_handle& handle, std::string& out);
    void get_group_message(const session_handle& handle, std::string& out);
    void get_custom_message(const session_handle& handle, std::string& out);
    void set_status(const std::string& name, const std::string& status);
    // Waits until a kind named in mask is pending, then takes what fits in one reply.
    // Ends at once with nothing when the mask names no kind or the session goes away.
    void select_events(const session_handle& handle, const std::string& mask, std::string& reply);

    // Groups and contact lists.
    bool user_exists(const std::string& name);
    bool group_exists(const std::string& name);
    bool users_exist(const std::string& list);
    void create_group(const std::string& group);
    void get_member_list(const std::string& group, std::string& out);
    void set_member_list(const std::string& group, const std::string& list);
    void get_master_list(const std::string& group, std::string& out);
    void set_master_list(const std::string& group, const std::string& list);
    void get_contact_list(const std::string& user, std::string& out);
    void set_contact_list(const std::string& user, const std::string& list);
    bool is_member(const std::string& user, const std::string& group);
    bool is_master(const std::string& user, const std::string& group);

    // The most text one reply may carry: min(buff_size, 1024) - 5.
    static std::size_t reply_limit();
    static constexpr std::size_t event_cap = 256;

private:
    std::mutex& user_lock(const std::string& name);
    void load_pending(const session_handle& handle);
    void store_pending(const std::string& name, const std::array<std::string, 3>& pools);
    void finish_logout(const session_handle& handle);
    void deliver(pool_kind kind, const std::string& receiver, const std::string& entry);
    void append_stored(pool_kind kind, const std::string& receiver, const std::string& entry);
    void send(pool_kind kind, const std::string& sender, const std::string& receiver, const std::string& text);
    void fetch(pool_kind kind, const session_handle& handle, std::string& out);
    void take_sections(session& s, unsigned wanted, std::string& reply);
    void push_event(session& s, const std::string& event);
    void read_group_list(const std::string& group, bool masters, std::string& out);
    void write_group_list(const std::string& group, bool masters, const std::string& list);
    bool in_group_list(const std::string& user, const std::string& group, bool masters);

    std::mutex table_lock_;
    std::map<std::string, session_handle> sessions_;  // guarded by table_lock_
    std::array<std::mutex, 64> user_locks_;           // by hash of the user name
};

} // namespace qs
