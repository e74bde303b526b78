// The database's availability: said once in the log when it changes, and what waited
// for its return stored then.
#include "qs/server/logic/log.h"
#include "qs/server/logic/log_redaction.h"
#include "qs/server/logic/server_state.h"
#include "qs/store/database.h"
#include "qs/store/db_error_text.h"

namespace qs {

server_state::~server_state()
{
    db_->pool().shutdown(); // no change is heard once the members start to go
}

bool server_state::database_available() const noexcept
{
    return db_->pool().available();
}

std::uint64_t server_state::statements_run() const noexcept
{
    return db_->pool().statements();
}

database_figures server_state::database_now() const
{
    connection_pool& pool = db_->pool();
    const auto usage = pool.in_use();
    return {usage.in_use, usage.waiting, pool.timeouts(), pool.available()};
}

// On the thread that changed it: a worker, the pool's prober or its watchdog.
void server_state::availability_changed(bool available, const db_error& why)
{
    if (!available) {
        log_error("The database is not available " + db_error_clause(why));
        return;
    }
    log_line("The database is available again.");
    background_.run([this] { store_orphans(); });
}

// Stores the pools of every orphaned session. A database gone again leaves the rest for
// its next return.
void server_state::store_orphans()
{
    const std::vector<session_handle> orphans = sessions_.orphans();
    for (const auto& handle : orphans) {
        try {
            state_guard user(user_lock(handle->name));
            {
                state_guard table(sessions_.lock());
                if (!handle->orphaned || handle->closed)
                    continue; // logged in again, or stored meanwhile
            }
            logout_locked(handle);
            log_line("Stored the pending messages of " + handle->name + ".");
        } catch (const qsexcpt& e) {
            if (e.code() == qsexcpt::database_unavailable)
                return;
            log_error("Could not store the pending messages of " + handle->name + ": " + e.message);
        } catch (...) {
            log_error("Could not store the pending messages of " + handle->name + ": " +
                      reason_of(std::current_exception()));
        }
    }
}

} // namespace qs
