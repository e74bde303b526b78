#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qs/server/logic/command_words.h"
#include "qs/server/logic/login_throttle.h"
#include "qs/server/logic/password_work.h"
#include "qs/server/logic/server_metrics.h"
#include "qs/server/logic/server_state.h"
#include "qs/version.h"

namespace qs {

// The command language of one client connection: its 23 handlers and who is logged in
// on it. Owned by the connection; execute() runs from any thread, and a command given
// up on at its deadline may still run beside the next ones, so lock_ guards who is
// logged in. What a hashing command keeps between its steps (work_, attempt_) goes with
// it from thread to thread, one at a time.
class command_interpreter {
public:
    explicit command_interpreter(server_state& state) : state_(state) {}
    command_interpreter(const command_interpreter&) = delete;
    command_interpreter& operator=(const command_interpreter&) = delete;

    // Runs one parsed command line for this connection and fills result; what a fetch
    // hands out is recorded in given, when given. With later given, a send whose
    // entries still wait in memory leaves result empty and sets *later: the reply is
    // "Ok." once it settles safely, the refusal it settles with otherwise. A
    // command that may_hash() can stop instead, leaving waiting_work(): run it, then
    // execute the same line again.
    void execute(const std::vector<std::string>& args, std::string& result, server_state::hand_out* given = nullptr,
                 ack_handle* later = nullptr);
    // Whether the command may stop for password work: login, newuser and setinfo.
    static bool may_hash(const std::vector<std::string>& args);
    // The work the last execute() stopped for; null when it ran to its end.
    password_work* waiting_work() { return hashing_ && hashing_->work.pending() ? &hashing_->work : nullptr; }

    // For a select: the session to park it in, or null with the refusal to answer
    // (the checks execute() makes for a select).
    session_handle select_target(const std::vector<std::string>& args, std::string& refusal);
    server_state& state() noexcept { return state_; }
    // Whether the command may wait on the database as things stand now.
    bool needs_database(const std::vector<std::string>& args);
    bool logged_in() { return current() != nullptr; }
    // The peer's address, for the log and for counting failed logins.
    void set_peer(std::string address) { peer_ = std::move(address); }
    // For the log: "from ADDRESS", and the user logged in, if any: "from ADDRESS (NAME)".
    std::string who();
    // How long the command must wait before it runs: a login reserves its attempt in the
    // throttle and waits for its turn; everything else runs at once.
    std::chrono::steady_clock::duration wait_before(const std::vector<std::string>& args);

    // The connection is over: logs its user out (a failure to store is logged).
    void end();

    // Commands the database kept from answering in time (see command_deadline.cpp).
    bool is_logout(const std::vector<std::string>& args) const;
    // The reply to a command answered without waiting for it any longer: the database
    // is not available; but a logout logs out all the same and leaves its session in
    // left, to be ended by the caller unless the logout itself still runs.
    std::string reply_unanswered(const std::vector<std::string>& args, session_handle& left);
    // Such a command finished after all, with result: a login that succeeded is ended
    // again, since the client was told it did not happen.
    void finished_late(const std::vector<std::string>& args, const std::string& result);
    // A command answered without being run: a login takes back the attempt it reserved.
    void not_run(const std::vector<std::string>& args);

    // Metrics. The command words in the order of their slots (unknown words: the slot
    // after); a command's end counted by its word (a held send's once it settles); the
    // class of a refusal's code.
    static std::vector<std::string> keywords();
    static constexpr const char* version = QS_VERSION; // what ver answers
    static void count(std::optional<command_word> word, command_result r);
    // The command word of args; none for an unknown one.
    static std::optional<command_word> word_of(const std::vector<std::string>& args);
    static command_result result_of(int refusal_code);

private:
    using args_t = std::vector<std::string>;
    struct command;
    static const std::vector<command>& commands();
    static const command* find(const args_t& args);
    bool refused(const command& cmd, const args_t& args, std::string& result);
    void run_command(const args_t& args, std::string& result);

    session_handle current(); // null unless logged in
    std::string user();       // the current user's name
    void logged_in_as(const session_handle& handle);
    void logged_out();
    login_throttle::attempt& login_attempt(const std::string& account);
    void end_login_attempt(bool failed);

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
    void send_then_answer(const std::function<void(const ack_handle&)>& send, std::string& r, int failure);
    void set_group_list(const args_t& a, std::string& r, void (groups::*set)(const std::string&, const std::string&));

    server_state& state_;
    std::string peer_; // "address" or "[address]" of the client; set before the first command
    mutex lock_;
    session_handle current_session_ GUARDED_BY(lock_); // null while nobody is logged in
    bool ended_ GUARDED_BY(lock_) = false;
    // Of the command running now on this thread: a command given up on at its deadline
    // may still run on a worker while the connection's next one runs on its loop.
    static thread_local server_state::hand_out* given_;
    static thread_local ack_handle* later_;
    // Of the connection's one hashing command (login, newuser, setinfo), which runs
    // alone: the connection starts none while a command given up on still runs. Made
    // when one starts, dropped when it ends: an idle connection carries none of it.
    struct hashing_command {
        password_work work;
        std::optional<login_throttle::attempt> attempt; // of the login waiting or running
    };
    std::unique_ptr<hashing_command> hashing_;
    hashing_command& hashing(); // made when missing
    void end_hashing_step(bool failed);
    bool has_attempt() const { return hashing_ && hashing_->attempt; }
    login_throttle::attempt& attempt() { return *hashing_->attempt; }
    void reserve_attempt(const std::string& account, login_throttle::clock::time_point now);
    void drop_attempt();
    void drop_hashing_if_done();
};

} // namespace qs
