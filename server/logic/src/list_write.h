#pragma once

#include <cstddef>
#include <string>

#include "qs/server/logic/qsexcpt.h"
#include "qs/store/store_codes.h"

namespace qs {

// A stored list (contacts, members, masters) must be readable back in one reply.
inline void check_list_length(const std::string& list, std::size_t reply_limit)
{
    if (list.size() > reply_limit)
        throw qsexcpt(qsexcpt::list_too_long);
}

// Runs a list write; a failed write is never reported as success.
template <typename Write>
void write_or_refuse(Write&& write)
{
    try {
        write();
    } catch (const qsexcpt&) {
        throw;
    } catch (const exception& e) {
        throw qsexcpt(e.code() == store_codes::value_too_long ? qsexcpt::list_too_long : qsexcpt::not_saved);
    } catch (...) {
        throw qsexcpt(qsexcpt::not_saved);
    }
}

} // namespace qs
