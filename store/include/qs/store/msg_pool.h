#pragma once

#include <string>

#include "qs/store/recordset.h"

namespace qs {

// One row of msgpool: the messages kept for a user who is not logged in.
// find_user() selects the row by its key; open() then throws no_such_user when there is none.
class msg_pool : public recordset {
public:
    explicit msg_pool(odbc::connection* database = nullptr);

    void find_user(const std::string& name);
    void open() override;

    const char* get_username() const { return username_.value.c_str(); }
    void set_username(const std::string& value) { assign(username_, value); }
    const char* get_msgs() const { return messages_.value.c_str(); }
    void set_msgs(const std::string& value) { assign(messages_, value); }
    const char* get_grpmsgs() const { return groupmessages_.value.c_str(); }
    void set_grpmsgs(const std::string& value) { assign(groupmessages_, value); }
    const char* get_cusmsgs() const { return custommessages_.value.c_str(); }
    void set_cusmsgs(const std::string& value) { assign(custommessages_, value); }

protected:
    std::string GetDefaultSQL() const override;
    void DoFieldExchange(field_exchange& fx) override;

private:
    text_field username_;
    text_field messages_;
    text_field groupmessages_;
    text_field custommessages_;
};

} // namespace qs
