#include "qs/store/node_directory.h"

#include "qs/store/connection_pool.h"

namespace qs {

namespace {

// lease_until for a lease of the bound number of seconds from now.
const std::string lease_end = "now() + CAST(? AS INTEGER) * INTERVAL '1 second'";

const std::string live = "lease_until > now()";

} // namespace

// The stale sessions go only when no live node has the name: the DELETE sees the
// statement's snapshot, as the INSERT's conflict check does the newest row.
bool node_directory::register_node(const std::string& node, std::chrono::seconds lease)
{
    return pool_.run([&](pooled_connection& c) {
        auto& s = c.prepared(
            "WITH stale AS (DELETE FROM sessions WHERE node = ? AND NOT EXISTS "
            "(SELECT 1 FROM nodes WHERE name = ? AND " +
            live +
            ")) "
            "INSERT INTO nodes (name, lease_until, started) VALUES (?, " +
            lease_end +
            ", now()) "
            "ON CONFLICT (name) DO UPDATE SET lease_until = EXCLUDED.lease_until, started = EXCLUDED.started "
            "WHERE nodes.lease_until <= now() RETURNING name");
        s.run({node, node, node, std::to_string(lease.count())});
        return s.fetch();
    });
}

bool node_directory::renew(const std::string& node, std::chrono::seconds lease)
{
    return pool_.run([&](pooled_connection& c) {
        auto& s = c.prepared("UPDATE nodes SET lease_until = " + lease_end + " WHERE name = ? AND " + live);
        s.run({std::to_string(lease.count()), node});
        return s.row_count() > 0;
    });
}

void node_directory::release_node(const std::string& node)
{
    pool_.run([&](pooled_connection& c) {
        auto& s = c.prepared("WITH released AS (DELETE FROM sessions WHERE node = ?) "
                             "UPDATE nodes SET lease_until = now() WHERE name = ?");
        s.run({node, node});
    });
}

// The insert takes the claimant only while it is live. On a conflict the row is
// locked and read at its newest: of two claims at once the second sees the first's
// node, live, and changes nothing.
bool node_directory::claim(const std::string& user, const std::string& node, const std::string& status)
{
    return pool_.run([&](pooled_connection& c) {
        auto& s =
            c.prepared("INSERT INTO sessions (username, node, since, status) "
                       "SELECT ?, name, now(), ? FROM nodes WHERE name = ? AND " +
                       live +
                       " "
                       "ON CONFLICT (username) DO UPDATE SET node = EXCLUDED.node, status = EXCLUDED.status, "
                       "since = CASE WHEN sessions.node = EXCLUDED.node THEN sessions.since ELSE EXCLUDED.since END "
                       "WHERE sessions.node = EXCLUDED.node OR NOT EXISTS "
                       "(SELECT 1 FROM nodes h WHERE h.name = sessions.node AND h." +
                       live +
                       ") "
                       "RETURNING node");
        s.run({user, status, node});
        return s.fetch();
    });
}

void node_directory::release(const std::string& user, const std::string& node)
{
    pool_.run([&](pooled_connection& c) {
        auto& s = c.prepared("DELETE FROM sessions WHERE username = ? AND node = ?");
        s.run({user, node});
    });
}

std::optional<std::string> node_directory::holder(const std::string& user)
{
    return pool_.run([&](pooled_connection& c) -> std::optional<std::string> {
        auto& s = c.prepared("SELECT s.node FROM sessions s JOIN nodes n ON n.name = s.node "
                             "WHERE s.username = ? AND n." +
                             live);
        s.run({user});
        if (!s.fetch())
            return std::nullopt;
        return s.text(1);
    });
}

void node_directory::set_status(const std::string& user, const std::string& node, const std::string& status)
{
    pool_.run([&](pooled_connection& c) {
        auto& s = c.prepared("UPDATE sessions SET status = ? WHERE username = ? AND node = ?");
        s.run({status, user, node});
    });
}

std::optional<std::string> node_directory::status_of(const std::string& user)
{
    return pool_.run([&](pooled_connection& c) -> std::optional<std::string> {
        auto& s = c.prepared("SELECT s.status FROM sessions s JOIN nodes n ON n.name = s.node "
                             "WHERE s.username = ? AND n." +
                             live);
        s.run({user});
        if (!s.fetch())
            return std::nullopt;
        return s.text(1);
    });
}

std::vector<node_directory::stored_pools> node_directory::stored_of(const std::string& node)
{
    return pool_.run([&](pooled_connection& c) {
        auto& s =
            c.prepared("SELECT m.username, octet_length(COALESCE(m.messages, '')), "
                       "octet_length(COALESCE(m.groupmessages, '')), octet_length(COALESCE(m.custommessages, '')) "
                       "FROM msgpool m JOIN sessions s ON s.username = m.username WHERE s.node = ? AND "
                       "(COALESCE(m.messages, '') <> '' OR COALESCE(m.groupmessages, '') <> '' OR "
                       "COALESCE(m.custommessages, '') <> '')");
        s.run({node});
        std::vector<stored_pools> found;
        while (s.fetch()) {
            stored_pools p{s.text(1), {}};
            for (std::size_t i = 0; i < p.lengths.size(); ++i)
                p.lengths[i] = std::stoul(s.text(static_cast<int>(i) + 2));
            found.push_back(std::move(p));
        }
        return found;
    });
}

std::vector<std::string> node_directory::live_nodes()
{
    return pool_.run([&](pooled_connection& c) {
        auto& s = c.prepared("SELECT name FROM nodes WHERE " + live + " ORDER BY name");
        s.run({});
        std::vector<std::string> names;
        while (s.fetch())
            names.push_back(s.text(1));
        return names;
    });
}

} // namespace qs
