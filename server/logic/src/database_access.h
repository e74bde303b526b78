#pragma once

#include <string>

#include "qs/server/logic/qsexcpt.h"
#include "qs/server/logic/state_lock.h"
#include "qs/store/database.h"

namespace qs {

// Runs work(database&); a database that cannot be reached or does not answer in time
// becomes "The database is not available." The log says so once, when the database
// becomes unavailable (server_state::availability_changed), not once per request. On an
// event loop it throws would_block instead.
template <typename Work>
auto with_db(database& db, Work&& work)
{
    if (on_event_loop())
        throw would_block();
    try {
        return work(db);
    } catch (const db_error& e) {
        if (!e.is_unavailable())
            throw;
        throw qsexcpt(qsexcpt::database_unavailable);
    }
}

// Runs work(odbc::connection&) on a connection borrowed from the database's pool, for
// the record classes.
template <typename Work>
auto on_connection(database& d, Work&& work)
{
    return d.pool().run([&](pooled_connection& c) { return work(c.conn()); });
}

} // namespace qs
