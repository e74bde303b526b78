#include "failure_text.h"

#include "qs/store/store_codes.h"

namespace qs::admin {

std::string failure_text(const exception& e)
{
    switch (e.code()) {
    case store_codes::no_such_user:
        return "no such user";
    case store_codes::no_such_group:
        return "no such group";
    case store_codes::value_too_long:
        return "a value is longer than " + std::to_string(store_codes::max_field_len()) + " characters";
    default:
        return "the record layer failed with code " + std::to_string(e.code());
    }
}

} // namespace qs::admin
