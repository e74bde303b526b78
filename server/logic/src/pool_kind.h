#pragma once

#include <array>
#include <string>

#include "qs/server/logic/command_words.h"
#include "qs/server/logic/server_state.h"
#include "qs/store/database.h"

namespace qs::pools {

using kind = server_state::pool_kind;

inline constexpr kind all[] = {kind::personal, kind::group, kind::custom};

static_assert(database::messages == index_of(kind::personal) && database::groupmessages == index_of(kind::group) &&
              database::custommessages == index_of(kind::custom) && std::tuple_size_v<database::pools> == pool_kinds);

inline database::column column_of(kind k)
{
    return static_cast<database::column>(index_of(k));
}

inline pending_pool& pool(session& s, kind k) REQUIRES(session_table)
{
    return s.pools[index_of(k)];
}

inline bool& flag(session& s, kind k) REQUIRES(session_table)
{
    return s.pending[index_of(k)];
}

// The stored pools, read at login, become the session's, still kept in the database
// until handed out.
inline void load(session& s, const database::pools& stored) REQUIRES(session_table)
{
    for (kind k : all) {
        pool(s, k).push_stored(stored[column_of(k)]);
        flag(s, k) = !pool(s, k).empty();
    }
}

// The section label of the kind in a select reply: the word that fetches it. The
// group's has two spaces, as clients read it.
inline const std::string& label(kind k)
{
    static const std::array<std::string, pool_kinds> labels = {
        std::string(command_keyword(command_word::getmessage)) + ": ",
        std::string(command_keyword(command_word::getgroupmessage)) + ":  ",
        std::string(command_keyword(command_word::getcustommessage)) + ": ",
    };
    return labels[index_of(k)];
}

} // namespace qs::pools
