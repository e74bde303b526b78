// The command language: keywords, argument counts, login checks and replies.
#include "qs/server/logic/command_interpreter.h"

#include "qs/server/logic/log.h"
#include "qs/server/logic/qsexcpt.h"
#include "qs/server/logic/server_metrics.h"
#include "qs/sync/debug_assert.h"

namespace qs {

namespace {

enum class check { count, logged_in, logged_out };

constexpr const char* ok = "Ok.";

// A name as one log line may show it: control characters cannot start a forged line.
std::string printable(std::string text)
{
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return text;
}

} // namespace

struct command_interpreter::command {
    command_word word; // the table holds each word at its index
    std::size_t args;  // the command word included; 0: any number
    std::vector<check> checks;
    void (command_interpreter::*run)(const args_t&, std::string&);
    bool swallow_all = false; // select: every failure leaves what was written
};

const std::vector<command_interpreter::command>& command_interpreter::commands()
{
    using c = check;
    using w = command_word;
    static const std::vector<command> table = {
        {w::login, 3, {c::count, c::logged_out}, &command_interpreter::login},
        {w::logout, 1, {c::count, c::logged_in}, &command_interpreter::logout},
        {w::newgroup, 2, {c::count, c::logged_in}, &command_interpreter::newgroup},
        {w::newuser, 3, {c::count, c::logged_out}, &command_interpreter::newuser},
        {w::sendmessage, 3, {c::count, c::logged_in}, &command_interpreter::sendmessage},
        {w::getmessage, 1, {c::count, c::logged_in}, &command_interpreter::getmessage},
        {w::sendgroupmessage, 3, {c::count, c::logged_in}, &command_interpreter::sendgroupmessage},
        {w::getgroupmessage, 1, {c::count, c::logged_in}, &command_interpreter::getgroupmessage},
        {w::sendcustommessage, 3, {c::count, c::logged_in}, &command_interpreter::sendcustommessage},
        {w::getcustommessage, 1, {c::count, c::logged_in}, &command_interpreter::getcustommessage},
        {w::setcontactlist, 2, {c::count, c::logged_in}, &command_interpreter::setcontactlist},
        {w::getcontactlist, 1, {c::count, c::logged_in}, &command_interpreter::getcontactlist},
        {w::setstatus, 2, {c::count, c::logged_in}, &command_interpreter::setstatus},
        {w::getstatus, 2, {c::count}, &command_interpreter::getstatus},
        {w::select, 2, {c::logged_in, c::count}, &command_interpreter::select, true},
        {w::getmemberlist, 2, {c::count}, &command_interpreter::getmemberlist},
        {w::setmemberlist, 3, {c::logged_in, c::count}, &command_interpreter::setmemberlist},
        {w::getmasterlist, 2, {c::count}, &command_interpreter::getmasterlist},
        {w::setmasterlist, 3, {c::logged_in, c::count}, &command_interpreter::setmasterlist},
        {w::getinfo, 2, {c::count}, &command_interpreter::getinfo},
        {w::setinfo, 2, {c::logged_in, c::count}, &command_interpreter::setinfo},
        {w::getpassword, 3, {c::logged_out, c::count}, &command_interpreter::getpassword},
        {w::ver, 0, {}, &command_interpreter::ver},
    };
    static const bool in_word_order = [] {
        for (std::size_t i = 0; i < table.size(); ++i)
            if (index_of(table[i].word) != i)
                return false;
        return table.size() == command_word_count;
    }();
    QS_ASSERT(in_word_order);
    return table;
}

const command_interpreter::command* command_interpreter::find(const args_t& args)
{
    const auto word = word_of(args);
    return word ? &commands()[index_of(*word)] : nullptr;
}

std::optional<command_word> command_interpreter::word_of(const args_t& args)
{
    return args.empty() ? std::nullopt : word_named(args[0]);
}

// The checks of cmd in order; true with the refusal in result when one fails.
bool command_interpreter::refused(const command& cmd, const args_t& args, std::string& result)
{
    for (check ch : cmd.checks) {
        if (ch == check::count && args.size() != cmd.args) {
            result = "Too many or too few arguments.";
            return true;
        }
        if (ch == check::logged_in && !current()) {
            result = "You need to login before executing this command.";
            return true;
        }
        if (ch == check::logged_out && current()) {
            result = "You need to logout before executing this command.";
            return true;
        }
    }
    return false;
}

void command_interpreter::execute(const args_t& args, std::string& result, server_state::hand_out* given,
                                  ack_handle* later)
{
    given_ = given;
    later_ = later;
    if (!may_hash(args)) { // hashing_ belongs to the connection's one hashing command
        run_command(args, result);
        return;
    }
    try {
        run_command(args, result);
    } catch (...) {
        end_hashing_step(true);
        throw;
    }
    end_hashing_step(false);
}

command_interpreter::hashing_command& command_interpreter::hashing()
{
    if (!hashing_)
        hashing_ = std::make_unique<hashing_command>();
    return *hashing_;
}

void command_interpreter::reserve_attempt(const std::string& account, login_throttle::clock::time_point now)
{
    hashing().attempt = state_.throttle().reserve(account, peer_, now);
}

// Work that failed, or ran to its end, is cleared: the next command starts afresh.
void command_interpreter::end_hashing_step(bool failed)
{
    if (hashing_ && (failed || !hashing_->work.pending()))
        hashing_->work.clear();
    drop_hashing_if_done();
}

void command_interpreter::drop_attempt()
{
    if (hashing_)
        hashing_->attempt.reset();
}

void command_interpreter::drop_hashing_if_done()
{
    if (hashing_ && !hashing_->work.pending() && !hashing_->attempt)
        hashing_.reset();
}

void command_interpreter::run_command(const args_t& args, std::string& result)
{
    const command* cmd = find(args);
    if (cmd == nullptr) {
        result = "Unknown command.";
        count(std::nullopt, command_result::refused);
        return;
    }
    if (refused(*cmd, args, result)) {
        count(cmd->word, command_result::refused);
        return;
    }
    try {
        (this->*cmd->run)(args, result);
        if (later_ == nullptr || !*later_) // a held send counts once it settles
            count(cmd->word, command_result::ok);
    } catch (const qsexcpt& e) {
        count(cmd->word, result_of(e.code()));
        if (!cmd->swallow_all)
            result = e.message;
    } catch (const would_block&) {
        throw;
    } catch (...) {
        count(cmd->word, command_result::failed);
        if (!cmd->swallow_all)
            throw;
    }
}

void command_interpreter::count(std::optional<command_word> word, command_result r)
{
    const std::size_t slot = word ? index_of(*word) : server_metrics::command_slots - 1;
    add_one(metrics().commands[slot][static_cast<std::size_t>(r)]);
}

command_result command_interpreter::result_of(int refusal_code)
{
    return refusal_code == qsexcpt::database_unavailable || refusal_code == qsexcpt::not_saved
               ? command_result::failed
               : command_result::refused;
}

std::vector<std::string> command_interpreter::keywords()
{
    std::vector<std::string> out;
    for (const auto& c : commands())
        out.emplace_back(command_keyword(c.word));
    return out;
}

bool command_interpreter::may_hash(const args_t& args)
{
    const auto word = word_of(args);
    return word == command_word::login || word == command_word::newuser || word == command_word::setinfo;
}

bool command_interpreter::needs_database(const args_t& args)
{
    using kind = server_state::pool_kind;
    using w = command_word;
    const command* cmd = find(args);
    std::string refusal;
    if (cmd == nullptr || refused(*cmd, args, refusal))
        return false;
    switch (cmd->word) {
    case w::ver:
    case w::setstatus:
        return false;
    case w::getstatus:
        return !state_.status_in_memory(args[1]);
    case w::login: // refused by the throttle: answered at once
        return !(has_attempt() && attempt().refused);
    case w::sendmessage:
    case w::sendcustommessage:
        return !state_.delivers_in_memory(args[1]);
    case w::getmessage:
        return !state_.fetches_in_memory(current(), kind::personal);
    case w::getgroupmessage:
        return !state_.fetches_in_memory(current(), kind::group);
    case w::getcustommessage:
        return !state_.fetches_in_memory(current(), kind::custom);
    case w::logout:
        return !state_.logs_out_in_memory(current());
    default:
        return true;
    }
}

session_handle command_interpreter::select_target(const args_t& args, std::string& refusal)
{
    return refused(commands()[index_of(command_word::select)], args, refusal) ? nullptr : current();
}

// Every failure is logged in one line, for tools that ban addresses; never the password.
// The attempt counts as a failure until the password proves right, or is never checked.
void command_interpreter::login(const args_t& a, std::string& r)
{
    if (login_attempt(a[1]).refused) {
        log_warning("Refused a login for " + printable(a[1]) + " from " + peer_ + ": too many failed logins.");
        add_one(metrics().logins_throttled);
        drop_attempt();
        throw qsexcpt(qsexcpt::too_many_failed_logins);
    }
    session_handle handle;
    try {
        handle = state_.login(a[1], a[2], hashing().work);
    } catch (const qsexcpt& e) {
        const bool failed = e.code() == qsexcpt::invalid_password || e.code() == qsexcpt::invalid_username;
        if (failed) {
            log_warning("Failed login for " + printable(a[1]) + " from " + peer_ + ".");
            add_one(metrics().login_failures);
        }
        end_login_attempt(failed);
        throw;
    } catch (...) {
        end_login_attempt(false);
        throw;
    }
    if (!handle)
        return; // its password check runs first
    state_.throttle().succeeded(attempt());
    drop_attempt();
    logged_in_as(handle);
    r = ok;
}

// The attempt wait_before reserved; a login run without it reserves one now.
login_throttle::attempt& command_interpreter::login_attempt(const std::string& account)
{
    if (!has_attempt() || attempt().account != account)
        reserve_attempt(account, login_throttle::clock::now());
    return attempt();
}

// A failure stays counted, and counts for the address; an attempt that checked no
// password is taken back.
void command_interpreter::end_login_attempt(bool failed)
{
    if (failed)
        state_.throttle().failed(attempt(), login_throttle::clock::now());
    else
        state_.throttle().cancel(attempt());
    drop_attempt();
}

std::chrono::steady_clock::duration command_interpreter::wait_before(const args_t& args)
{
    if (args.size() != 3 || word_of(args) != command_word::login || current())
        return std::chrono::steady_clock::duration::zero();
    const auto now = login_throttle::clock::now();
    reserve_attempt(args[1], now);
    return attempt().refused ? std::chrono::steady_clock::duration::zero() : attempt().at - now;
}

void command_interpreter::logout(const args_t&, std::string& r)
{
    state_.logout(current());
    logged_out();
    r = ok;
}

void command_interpreter::newgroup(const args_t& a, std::string& r)
{
    state_.groups().create(a[1]);
    state_.groups().set_master_list(a[1], user());
    state_.groups().set_member_list(a[1], user());
    r = ok;
}

void command_interpreter::newuser(const args_t& a, std::string& r)
{
    if (state_.accounts().new_user(a[1], a[2], hashing().work))
        r = ok;
}

// A send answers "Ok." once what it delivered is safe: at once when it was stored or
// nothing waits in memory, else later, through later_ (given by the connection).
void command_interpreter::send_then_answer(const std::function<void(const ack_handle&)>& send, std::string& r,
                                           int failure)
{
    ack_handle ack = later_ ? std::make_shared<delivery_ack>(failure) : nullptr;
    send(ack);
    if (ack && ack->attached() > 0)
        *later_ = std::move(ack);
    else
        r = ok;
}

void command_interpreter::sendmessage(const args_t& a, std::string& r)
{
    send_then_answer([&](const ack_handle& ack) { state_.send_message(user(), a[1], a[2], ack); }, r,
                     qsexcpt::database_unavailable);
}

void command_interpreter::getmessage(const args_t&, std::string& r)
{
    state_.get_message(current(), r, given_);
}

void command_interpreter::sendgroupmessage(const args_t& a, std::string& r)
{
    if (!state_.groups().is_member(user(), a[1])) {
        r = "You are not a member of that group.";
        return;
    }
    send_then_answer([&](const ack_handle& ack) { state_.send_group_message(user(), a[1], a[2], ack); }, r,
                     qsexcpt::not_delivered_to_all);
}

void command_interpreter::getgroupmessage(const args_t&, std::string& r)
{
    state_.get_group_message(current(), r, given_);
}

void command_interpreter::sendcustommessage(const args_t& a, std::string& r)
{
    send_then_answer([&](const ack_handle& ack) { state_.send_custom_message(user(), a[1], a[2], ack); }, r,
                     qsexcpt::database_unavailable);
}

void command_interpreter::getcustommessage(const args_t&, std::string& r)
{
    state_.get_custom_message(current(), r, given_);
}

void command_interpreter::setcontactlist(const args_t& a, std::string& r)
{
    state_.set_contact_list(user(), a[1]);
    r = ok;
}

void command_interpreter::getcontactlist(const args_t&, std::string& r)
{
    state_.accounts().get_contact_list(user(), r);
}

void command_interpreter::setstatus(const args_t& a, std::string& r)
{
    state_.set_status(user(), a[1]);
    r = ok;
}

void command_interpreter::getstatus(const args_t& a, std::string& r)
{
    state_.get_status(a[1], r);
}

void command_interpreter::select(const args_t& a, std::string& r)
{
    state_.waiters().select(current(), a[1], r);
}

void command_interpreter::getmemberlist(const args_t& a, std::string& r)
{
    state_.groups().get_member_list(a[1], r);
}

void command_interpreter::setmemberlist(const args_t& a, std::string& r)
{
    set_group_list(a, r, &groups::set_member_list);
}

void command_interpreter::getmasterlist(const args_t& a, std::string& r)
{
    state_.groups().get_master_list(a[1], r);
}

void command_interpreter::setmasterlist(const args_t& a, std::string& r)
{
    set_group_list(a, r, &groups::set_master_list);
}

// Only a master of the group may replace one of its lists.
void command_interpreter::set_group_list(const args_t& a, std::string& r,
                                         void (groups::*set)(const std::string&, const std::string&))
{
    if (!state_.groups().is_master(user(), a[1])) {
        r = "You are not a master of that group.";
        return;
    }
    (state_.groups().*set)(a[1], a[2]);
    r = ok;
}

void command_interpreter::getinfo(const args_t& a, std::string& r)
{
    state_.accounts().public_record(a[1], r);
}

void command_interpreter::setinfo(const args_t& a, std::string& r)
{
    if (state_.accounts().set_info(user(), a[1], hashing().work))
        r = ok;
}

void command_interpreter::getpassword(const args_t& a, std::string& r)
{
    state_.accounts().password_for(a[1], a[2], r);
}

void command_interpreter::ver(const args_t&, std::string& r)
{
    r = version;
}

} // namespace qs
