#pragma once

#include <string>

#include "qs/store/recordset.h"

namespace qs {

// One row of groupinfo: a group with its member and master lists.
// find_group() selects the row by its key; open() then throws no_such_group when there is none.
class group_info : public recordset {
public:
    explicit group_info(odbc::connection* database = nullptr);

    void find_group(const std::string& name);
    void open() override;

    const char* get_groupname() const { return groupname_.value.c_str(); }
    void set_groupname(const std::string& value) { assign(groupname_, value); }
    const char* get_members() const { return members_.value.c_str(); }
    void set_members(const std::string& value) { assign(members_, value); }
    const char* get_masters() const { return masters_.value.c_str(); }
    void set_masters(const std::string& value) { assign(masters_, value); }
    const char* get_details() const { return details_.value.c_str(); }
    void set_details(const std::string& value) { assign(details_, value); }
    const char* get_facepath() const { return facepath_.value.c_str(); }
    void set_facepath(const std::string& value) { assign(facepath_, value); }

protected:
    std::string GetDefaultSQL() const override;
    void DoFieldExchange(field_exchange& fx) override;

private:
    text_field groupname_;
    text_field members_;
    text_field masters_;
    text_field details_;
    text_field facepath_;
};

} // namespace qs
