#pragma once

#include <string>

#include "qs/store/recordset.h"

namespace qs {

// One row of userinfo: an account, its profile and its contact list.
// find_user() selects the row by its key; open() then throws no_such_user when there is none.
class user_info : public recordset {
public:
    explicit user_info(odbc::connection* database = nullptr);

    void find_user(const std::string& name);
    void open() override;

    const char* get_username() const { return username_.value.c_str(); }
    void set_username(const std::string& value) { assign(username_, value); }
    const char* get_password() const { return password_.value.c_str(); }
    void set_password(const std::string& value) { assign(password_, value); }
    const char* get_nickname() const { return nickname_.value.c_str(); }
    void set_nickname(const std::string& value) { assign(nickname_, value); }
    const char* get_contacts() const { return contacts_.value.c_str(); }
    void set_contacts(const std::string& value) { assign(contacts_, value); }
    const char* get_email() const { return email_.value.c_str(); }
    void set_email(const std::string& value) { assign(email_, value); }
    const char* get_tel() const { return tel_.value.c_str(); }
    void set_tel(const std::string& value) { assign(tel_, value); }
    const char* get_details() const { return details_.value.c_str(); }
    void set_details(const std::string& value) { assign(details_, value); }
    const char* get_country() const { return country_.value.c_str(); }
    void set_country(const std::string& value) { assign(country_, value); }
    const char* get_province() const { return province_.value.c_str(); }
    void set_province(const std::string& value) { assign(province_, value); }
    const char* get_city() const { return city_.value.c_str(); }
    void set_city(const std::string& value) { assign(city_, value); }
    const char* get_facepath() const { return facepath_.value.c_str(); }
    void set_facepath(const std::string& value) { assign(facepath_, value); }
    const char* get_question() const { return question_.value.c_str(); }
    void set_question(const std::string& value) { assign(question_, value); }
    const char* get_answer() const { return answer_.value.c_str(); }
    void set_answer(const std::string& value) { assign(answer_, value); }

protected:
    std::string GetDefaultSQL() const override;
    void DoFieldExchange(field_exchange& fx) override;

private:
    text_field username_;
    text_field password_;
    text_field nickname_;
    text_field contacts_;
    text_field email_;
    text_field tel_;
    text_field details_;
    text_field country_;
    text_field province_;
    text_field city_;
    text_field facepath_;
    text_field question_;
    text_field answer_;
};

} // namespace qs
