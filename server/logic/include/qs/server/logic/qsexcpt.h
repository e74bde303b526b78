#pragma once

#include <string>

#include "qs/fault/exception.h"

namespace qs {

// The command logic's refusal: a code and the sentence the client is to see.
// Codes outside the table give the empty sentence.
class qsexcpt : public exception {
public:
    enum : int {
        invalid_username = 0,
        invalid_password = 1,
        user_exists_already = 2,
        user_online = 3,
        user_not_online = 4,
        no_messages = 5,
        no_events = 6,
        invalid_groupname = 7,
        group_exists_already = 8,
        message_too_long = 9,
        message_box_full = 10,
        list_too_long = 11,
        info_too_long = 12,
        status_too_long = 13,
        not_delivered_to_all = 14,
        not_saved = 15,
        invalid_answer = 16,
        database_unavailable = 17,
        too_many_selects = 18,
        text_has_bar = 19,
        password_not_readable = 20,
        too_many_failed_logins = 21,
    };

    explicit qsexcpt(int code);

    const std::string message;
};

} // namespace qs
