#pragma once

#include "qs/server/logic/server_state.h"
#include "qs/store/database.h"

namespace qs::pools {

using kind = server_state::pool_kind;

inline pending_pool& pool(session& s, kind k) REQUIRES(session_table)
{
    return k == kind::personal ? s.messages : k == kind::group ? s.group_messages : s.custom_messages;
}

inline bool& flag(session& s, kind k) REQUIRES(session_table)
{
    return k == kind::personal ? s.has_messages : k == kind::group ? s.has_group_messages : s.has_custom_messages;
}

// The stored pools, read at login, become the session's, still kept in the database
// until handed out.
inline void load(session& s, const database::pools& stored) REQUIRES(session_table)
{
    s.messages.push_stored(stored[database::messages]);
    s.group_messages.push_stored(stored[database::groupmessages]);
    s.custom_messages.push_stored(stored[database::custommessages]);
    s.has_messages = !s.messages.empty();
    s.has_group_messages = !s.group_messages.empty();
    s.has_custom_messages = !s.custom_messages.empty();
}

// The section label of the kind in a select reply.
inline const char* label(kind k)
{
    return k == kind::personal ? "getmessage: " : k == kind::group ? "getgroupmessage:  " : "getcustommessage: ";
}

inline constexpr kind all[] = {kind::personal, kind::group, kind::custom};

inline database::column column_of(kind k)
{
    return k == kind::personal ? database::messages
           : k == kind::group  ? database::groupmessages
                               : database::custommessages;
}

} // namespace qs::pools
