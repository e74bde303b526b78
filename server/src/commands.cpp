// The command language: keywords, argument counts, login checks and replies.
#include "qs/connection.h"

namespace qs {

namespace {

enum class check { count, logged_in, logged_out };

constexpr const char* ok = "Ok.";

} // namespace

struct connection::command {
    const char* keyword;
    std::size_t args;  // the command word included; 0: any number
    std::vector<check> checks;
    void (connection::*run)(const args_t&, std::string&);
    bool swallow_all = false;  // select: every failure leaves what was written
};

const std::vector<connection::command>& connection::commands()
{
    using c = check;
    static const std::vector<command> table = {
        {"login", 3, {c::count, c::logged_out}, &connection::login},
        {"logout", 1, {c::count, c::logged_in}, &connection::logout},
        {"newgroup", 2, {c::count, c::logged_in}, &connection::newgroup},
        {"newuser", 3, {c::count, c::logged_out}, &connection::newuser},
        {"sendmessage", 3, {c::count, c::logged_in}, &connection::sendmessage},
        {"getmessage", 1, {c::count, c::logged_in}, &connection::getmessage},
        {"sendgroupmessage", 3, {c::count, c::logged_in}, &connection::sendgroupmessage},
        {"getgroupmessage", 1, {c::count, c::logged_in}, &connection::getgroupmessage},
        {"sendcustommessage", 3, {c::count, c::logged_in}, &connection::sendcustommessage},
        {"getcustommessage", 1, {c::count, c::logged_in}, &connection::getcustommessage},
        {"setcontactlist", 2, {c::count, c::logged_in}, &connection::setcontactlist},
        {"getcontactlist", 1, {c::count, c::logged_in}, &connection::getcontactlist},
        {"setstatus", 2, {c::count, c::logged_in}, &connection::setstatus},
        {"getstatus", 2, {c::count}, &connection::getstatus},
        {"select", 2, {c::logged_in, c::count}, &connection::select, true},
        {"getmemberlist", 2, {c::count}, &connection::getmemberlist},
        {"setmemberlist", 3, {c::logged_in, c::count}, &connection::setmemberlist},
        {"getmasterlist", 2, {c::count}, &connection::getmasterlist},
        {"setmasterlist", 3, {c::logged_in, c::count}, &connection::setmasterlist},
        {"getinfo", 2, {c::count}, &connection::getinfo},
        {"setinfo", 2, {c::logged_in, c::count}, &connection::setinfo},
        {"getpassword", 3, {c::logged_out, c::count}, &connection::getpassword},
        {"ver", 0, {}, &connection::ver},
    };
    return table;
}

void connection::execute(const args_t& args, std::string& result)
{
    const command* cmd = nullptr;
    for (const auto& candidate : commands()) {
        if (!args.empty() && args[0] == candidate.keyword) {
            cmd = &candidate;
            break;
        }
    }
    if (cmd == nullptr) {
        result = "Unknown command.";
        return;
    }
    for (check ch : cmd->checks) {
        if (ch == check::count && args.size() != cmd->args) {
            result = "Too many or too few arguments.";
            return;
        }
        if (ch == check::logged_in && !current()) {
            result = "You need to login before executing this command.";
            return;
        }
        if (ch == check::logged_out && current()) {
            result = "You need to logout before executing this command.";
            return;
        }
    }
    try {
        (this->*cmd->run)(args, result);
    } catch (const qsexcpt& e) {
        if (!cmd->swallow_all)
            result = e.message;
    } catch (...) {
        if (!cmd->swallow_all)
            throw;
    }
}

void connection::login(const args_t& a, std::string& r)
{
    logged_in_as(state_.login(a[1], a[2]));
    r = ok;
}

void connection::logout(const args_t&, std::string& r)
{
    state_.logout(current());
    logged_out();
    r = ok;
}

void connection::newgroup(const args_t& a, std::string& r)
{
    state_.create_group(a[1]);
    state_.set_master_list(a[1], user());
    state_.set_member_list(a[1], user());
    r = ok;
}

void connection::newuser(const args_t& a, std::string& r)
{
    state_.new_user(a[1], a[2]);
    r = ok;
}

void connection::sendmessage(const args_t& a, std::string& r)
{
    state_.send_message(user(), a[1], a[2]);
    r = ok;
}

void connection::getmessage(const args_t&, std::string& r)
{
    state_.get_message(current(), r);
}

void connection::sendgroupmessage(const args_t& a, std::string& r)
{
    if (!state_.is_member(user(), a[1])) {
        r = "You are not a member of that group.";
        return;
    }
    state_.send_group_message(user(), a[1], a[2]);
    r = ok;
}

void connection::getgroupmessage(const args_t&, std::string& r)
{
    state_.get_group_message(current(), r);
}

void connection::sendcustommessage(const args_t& a, std::string& r)
{
    state_.send_custom_message(user(), a[1], a[2]);
    r = ok;
}

void connection::getcustommessage(const args_t&, std::string& r)
{
    state_.get_custom_message(current(), r);
}

void connection::setcontactlist(const args_t& a, std::string& r)
{
    state_.set_contact_list(user(), a[1]);
    r = ok;
}

void connection::getcontactlist(const args_t&, std::string& r)
{
    state_.get_contact_list(user(), r);
}

void connection::setstatus(const args_t& a, std::string& r)
{
    state_.set_status(user(), a[1]);
    r = ok;
}

void connection::getstatus(const args_t& a, std::string& r)
{
    state_.get_status(a[1], r);
}

void connection::select(const args_t& a, std::string& r)
{
    state_.select_events(current(), a[1], r);
}

void connection::getmemberlist(const args_t& a, std::string& r)
{
    state_.get_member_list(a[1], r);
}

void connection::setmemberlist(const args_t& a, std::string& r)
{
    set_group_list(a, r, &server_state::set_member_list);
}

void connection::getmasterlist(const args_t& a, std::string& r)
{
    state_.get_master_list(a[1], r);
}

void connection::setmasterlist(const args_t& a, std::string& r)
{
    set_group_list(a, r, &server_state::set_master_list);
}

// Only a master of the group may replace one of its lists.
void connection::set_group_list(const args_t& a, std::string& r,
                                void (server_state::*set)(const std::string&, const std::string&))
{
    if (!state_.is_master(user(), a[1])) {
        r = "You are not a master of that group.";
        return;
    }
    (state_.*set)(a[1], a[2]);
    r = ok;
}

void connection::getinfo(const args_t& a, std::string& r)
{
    state_.public_record(a[1], r);
}

void connection::setinfo(const args_t& a, std::string& r)
{
    state_.set_info(user(), a[1]);
    r = ok;
}

void connection::getpassword(const args_t& a, std::string& r)
{
    state_.password_for(a[1], a[2], r);
}

void connection::ver(const args_t&, std::string& r)
{
    r = "0.1";
}

} // namespace qs
