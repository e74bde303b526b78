#include "qs/store/group_info.h"

#include "qs/store/store_codes.h"

namespace qs {

group_info::group_info(odbc::connection* database) : recordset(database) {}

void group_info::find_group(const std::string& name)
{
    add_filter("groupname", name);
}

void group_info::open()
{
    recordset::open();
    require_row(groupname_, store_codes::no_such_group);
}

std::string group_info::GetDefaultSQL() const
{
    return "groupinfo";
}

void group_info::DoFieldExchange(field_exchange& fx)
{
    fx.text("groupname", groupname_);
    fx.text("members", members_);
    fx.text("masters", masters_);
    fx.text("details", details_);
    fx.text("facepath", facepath_);
}

} // namespace qs
