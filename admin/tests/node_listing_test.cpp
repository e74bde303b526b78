#include <gtest/gtest.h>

#include <regex>

#include "admin_run.h"
#include "store_fixture.h"

namespace qs::test {
namespace {

using AdminNodesTest = StoreTest;

TEST_F(AdminNodesTest, EachNodeByNameLiveOrNotWithItsLeaseLeftStartAndSessions)
{
    if (!db.is_postgresql())
        GTEST_SKIP() << "PostgreSQL only";
    const auto none = qsadmin({"nodes"});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "No nodes: no cluster node has registered in this database.\n");

    db.exec("INSERT INTO nodes (name, lease_until, started) VALUES "
            "('n2', now() + INTERVAL '3600 seconds', '2026-01-02 03:04:05.9+00'), "
            "('n1', now() - INTERVAL '5 seconds', '2026-01-01 23:30:00-02'), "
            "('n3', now() + INTERVAL '3600 seconds', now())");
    db.exec("INSERT INTO sessions (username, node, since) VALUES ('ann', 'n2', now()), ('bob', 'n2', now()), "
            "('cy', 'n1', now())");
    const auto r = qsadmin({"nodes"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    std::smatch m;
    ASSERT_TRUE(
        std::regex_match(r.out, m,
                         std::regex("n1: dead, 0 s of lease left, started 2026-01-02 01:30:00 UTC, 1 session\n"
                                    "n2: live, ([0-9]+) s of lease left, started 2026-01-02 03:04:05 UTC, 2 sessions\n"
                                    "n3: live, ([0-9]+) s of lease left, started [-0-9]+ [:0-9]+ UTC, 0 sessions\n")))
        << r.out;
    for (const std::size_t i : {1u, 2u}) {
        EXPECT_LE(std::stoi(m[i]), 3600);
        EXPECT_GT(std::stoi(m[i]), 3000) << "the lease is measured from the database's now()";
    }
}

TEST_F(AdminNodesTest, RefusedOnSQLiteAndWithoutTheClusterTables)
{
    if (db.is_postgresql())
        db.exec("DROP TABLE sessions"); // the next reset() makes it again
    const auto r = qsadmin({"nodes"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              db.is_postgresql()
                  ? "qsadmin: table sessions: no such table; cluster mode needs it (single-node servers do not)\n"
                  : "qsadmin: cluster mode needs PostgreSQL: this database has no nodes\n");
}

} // namespace
} // namespace qs::test
