#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "qs/server_state.h"
#include "qs/socket.h"

namespace qs {

// One client connection. Shared by its receive thread, its command threads and the
// connection list; the last of them to let go releases the descriptor (destructor).
// shutdown() only wakes blocked calls, so the number is never reused while in use.
class connection : public socket {
public:
    connection(server_state& state, const socket& accepted);
    ~connection() override;
    connection(const connection&) = delete;
    connection& operator=(const connection&) = delete;

    // Runs one parsed command line for this connection and fills result.
    void execute(const std::vector<std::string>& args, std::string& result);

    // Sends one reply frame whole; frames of concurrent commands never interleave.
    void send_reply(std::int32_t cid, const std::string& text);

    // Takes one of the slots for selects waiting at once; false when all are taken.
    bool try_acquire_slot();
    void release_slot();

    // The connection is over: wakes its blocked calls and logs its user out.
    void end();

    static constexpr int max_waiting_selects = 32;

private:
    using args_t = std::vector<std::string>;
    struct command;
    static const std::vector<command>& commands();

    session_handle current();                // null unless logged in
    std::string user();                      // the current user's name
    void logged_in_as(const session_handle& handle);
    void logged_out();

    // Handlers of the command language.
    void login(const args_t& a, std::string& r);
    void logout(const args_t& a, std::string& r);
    void newgroup(const args_t& a, std::string& r);
    void newuser(const args_t& a, std::string& r);
    void sendmessage(const args_t& a, std::string& r);
    void getmessage(const args_t& a, std::string& r);
    void sendgroupmessage(const args_t& a, std::string& r);
    void getgroupmessage(const args_t& a, std::string& r);
    void sendcustommessage(const args_t& a, std::string& r);
    void getcustommessage(const args_t& a, std::string& r);
    void setcontactlist(const args_t& a, std::string& r);
    void getcontactlist(const args_t& a, std::string& r);
    void setstatus(const args_t& a, std::string& r);
    void getstatus(const args_t& a, std::string& r);
    void select(const args_t& a, std::string& r);
    void getmemberlist(const args_t& a, std::string& r);
    void setmemberlist(const args_t& a, std::string& r);
    void getmasterlist(const args_t& a, std::string& r);
    void setmasterlist(const args_t& a, std::string& r);
    void getinfo(const args_t& a, std::string& r);
    void setinfo(const args_t& a, std::string& r);
    void getpassword(const args_t& a, std::string& r);
    void ver(const args_t& a, std::string& r);
    void set_group_list(const args_t& a, std::string& r,
                        void (server_state::*set)(const std::string&, const std::string&));

    server_state& state_;
    std::mutex send_lock_;            // one frame at a time on the wire
    std::mutex lock_;                 // guards current_session_, ended_, running_
    session_handle current_session_;  // null while nobody is logged in
    bool ended_ = false;
    int running_ = 0;                 // selects holding a slot
};

} // namespace qs
