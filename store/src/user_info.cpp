#include "qs/store/user_info.h"

#include "qs/store/store_codes.h"

namespace qs {

user_info::user_info(odbc::connection* database) : recordset(database) {}

void user_info::find_user(const std::string& name)
{
    add_filter("username", name);
}

void user_info::open()
{
    recordset::open();
    require_row(username_, store_codes::no_such_user);
}

std::string user_info::GetDefaultSQL() const
{
    return "userinfo";
}

void user_info::DoFieldExchange(field_exchange& fx)
{
    fx.text("username", username_);
    fx.text("password", password_);
    fx.text("nickname", nickname_);
    fx.text("contacts", contacts_);
    fx.text("email", email_);
    fx.text("tel", tel_);
    fx.text("details", details_);
    fx.text("country", country_);
    fx.text("province", province_);
    fx.text("city", city_);
    fx.text("facepath", facepath_);
    fx.text("question", question_);
    fx.text("answer", answer_);
}

} // namespace qs
