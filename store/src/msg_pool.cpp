#include "qs/store/msg_pool.h"

#include "qs/store/store_codes.h"

namespace qs {

msg_pool::msg_pool(odbc::connection* database) : recordset(database) {}

void msg_pool::find_user(const std::string& name)
{
    add_filter("username", name);
}

void msg_pool::open()
{
    recordset::open();
    require_row(username_, store_codes::no_such_user);
}

std::string msg_pool::GetDefaultSQL() const
{
    return "msgpool";
}

void msg_pool::DoFieldExchange(field_exchange& fx)
{
    fx.text("username", username_);
    fx.text("messages", messages_);
    fx.text("groupmessages", groupmessages_);
    fx.text("custommessages", custommessages_);
}

} // namespace qs
