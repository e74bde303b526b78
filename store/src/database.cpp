#include "qs/store/database.h"

namespace qs {

namespace {

const char* const column_names[] = {"messages", "groupmessages", "custommessages"};

// The length in bytes of a text column, as the dialect writes it.
std::string byte_length(odbc::dialect d, const std::string& column)
{
    return d == odbc::dialect::sqlite ? "length(CAST(" + column + " AS BLOB))" : "octet_length(" + column + ")";
}

// column becomes the first ? when empty, else column "|" the second ?.
std::string appended(const std::string& column)
{
    return column + " = CASE WHEN " + column + " IS NULL OR " + column + " = '' THEN ? ELSE " + column +
           " || '|' || ? END";
}

// The probe while the database is unavailable takes the write lock every append needs
// and changes nothing.
pool_options with_probe(pool_options options)
{
    options.probe_sql = "UPDATE msgpool SET username = username WHERE 1 = 0";
    return options;
}

const char* const user_query = "SELECT username FROM userinfo WHERE username = ?";

bool user_found(odbc::statement& s, const std::string& name)
{
    s.run({name});
    return s.fetch() && !s.text(1).empty();
}

bool has_row(pooled_connection& c, const std::string& name)
{
    auto& s = c.prepared("SELECT username FROM msgpool WHERE username = ?");
    s.run({name});
    return s.fetch();
}

} // namespace

struct database::queued_append {
    column c;
    const std::string& name;
    const std::string& entry;
    std::size_t limit;
    append_result result = append_result::appended;
    std::exception_ptr error;
    bool done = false; // guarded by database::append_lock_
};

database::append_result database::append_one(pooled_connection& pc, const queued_append& q)
{
    const std::string col = column_names[q.c];
    const std::string sql = "UPDATE msgpool SET " + appended(col) + " WHERE username = ? AND (CASE WHEN " + col +
                            " IS NULL OR " + col + " = '' THEN 0 ELSE " + byte_length(pc.conn().kind(), col) +
                            " + 1 END) + CAST(? AS INTEGER) <= CAST(? AS INTEGER)";
    auto& s = pc.prepared(sql);
    s.run({q.entry, q.entry, q.name, std::to_string(q.entry.size()), std::to_string(q.limit)});
    if (s.row_count() > 0)
        return append_result::appended;
    return has_row(pc, q.name) ? append_result::full : append_result::no_row;
}

database::database(pool_options options) : pool_(with_probe(std::move(options))) {}

std::optional<database::login_row> database::read_login(const std::string& name)
{
    return pool_.run([&](pooled_connection& c) -> std::optional<login_row> {
        auto& s = c.prepared("SELECT u.username, u.password, u.contacts, m.messages, m.groupmessages, m.custommessages "
                             "FROM userinfo u LEFT JOIN msgpool m ON m.username = u.username WHERE u.username = ?");
        s.run({name});
        if (!s.fetch() || s.text(1).empty())
            return std::nullopt;
        login_row row;
        row.password = s.text(2);
        row.contacts = s.text(3);
        for (std::size_t i = 0; i < row.stored.size(); ++i)
            row.stored[i] = s.text(static_cast<int>(i + 4));
        return row;
    });
}

bool database::user_exists(const std::string& name)
{
    return pool_.run([&](pooled_connection& c) { return user_found(c.prepared(user_query), name); });
}

bool database::user_exists(odbc::connection& conn, const std::string& name)
{
    odbc::statement s(conn);
    s.prepare(user_query);
    return user_found(s, name);
}

std::optional<database::group_lists> database::read_group(const std::string& name)
{
    return pool_.run([&](pooled_connection& c) -> std::optional<group_lists> {
        auto& s = c.prepared("SELECT groupname, members, masters FROM groupinfo WHERE groupname = ?");
        s.run({name});
        if (!s.fetch() || s.text(1).empty())
            return std::nullopt;
        group_lists lists;
        lists.members = s.text(2);
        lists.masters = s.text(3);
        return lists;
    });
}

// The first caller finding nobody committing commits everything queued, its own entry
// included; the others wait for their batch.
database::append_result database::append(column c, const std::string& name, const std::string& entry, std::size_t limit)
{
    queued_append mine{c, name, entry, limit, append_result::appended, nullptr, false};
    qs::unique_lock guard(append_lock_);
    append_queue_.push_back(&mine);
    while (!mine.done) {
        if (committing_) {
            guard.wait(appends_done_);
            continue;
        }
        committing_ = true;
        std::vector<queued_append*> batch;
        batch.swap(append_queue_);
        guard.unlock();
        append_batch(batch);
        guard.lock();
        for (auto* q : batch)
            q->done = true;
        committing_ = false;
        appends_done_.notify_all();
    }
    if (mine.error)
        std::rethrow_exception(mine.error);
    return mine.result;
}

// One transaction for the whole batch: every entry is committed, or none is.
void database::append_batch(const std::vector<queued_append*>& batch)
{
    try {
        pool_.run([&](pooled_connection& pc) {
            pc.conn().set_autocommit(false);
            try {
                for (auto* q : batch)
                    q->result = append_one(pc, *q);
                pc.conn().commit();
            } catch (...) {
                try {
                    pc.conn().rollback();
                    pc.conn().set_autocommit(true);
                } catch (...) { // the connection is broken; the pool reopens it
                }
                throw;
            }
            pc.conn().set_autocommit(true);
        });
    } catch (...) {
        for (auto* q : batch)
            q->error = std::current_exception();
    }
}

void database::append_unbounded(const std::string& name, const pools& chunks)
{
    std::string sets;
    std::vector<std::string> params;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        if (chunks[i].empty())
            continue;
        sets += (sets.empty() ? "" : ", ") + appended(column_names[i]);
        params.insert(params.end(), {chunks[i], chunks[i]});
    }
    if (sets.empty())
        return;
    params.push_back(name);
    pool_.run([&](pooled_connection& c) {
        for (int attempt = 0;; ++attempt) {
            auto& update = c.prepared("UPDATE msgpool SET " + sets + " WHERE username = ?");
            update.run(params);
            if (update.row_count() > 0)
                return;
            try {
                auto& insert = c.prepared("INSERT INTO msgpool (username, messages, groupmessages, custommessages) "
                                          "VALUES (?, ?, ?, ?)");
                insert.run({name, chunks[0], chunks[1], chunks[2]});
                return;
            } catch (const db_error& e) {
                if (!e.is_constraint_violation() || attempt > 0) // made meanwhile: update it
                    throw;
            }
        }
    });
}

bool database::replace_if(column c, const std::string& name, const std::string& expected, const std::string& remaining)
{
    return pool_.run([&](pooled_connection& pc) {
        const std::string col = column_names[c];
        auto& s =
            pc.prepared("UPDATE msgpool SET " + col + " = ? WHERE username = ? AND COALESCE(" + col + ", '') = ?");
        s.run({remaining, name, expected});
        return s.row_count() > 0;
    });
}

std::string database::read_pool(column c, const std::string& name)
{
    return pool_.run([&](pooled_connection& pc) {
        auto& s = pc.prepared(std::string("SELECT ") + column_names[c] + " FROM msgpool WHERE username = ?");
        s.run({name});
        return s.fetch() ? s.text(1) : std::string();
    });
}

} // namespace qs
