// The fixture every store test starts from.
#include <gtest/gtest.h>

#include "store_fixture.h"

namespace qs::test {
namespace {

using TestDatabaseTest = StoreTest;

TEST_F(TestDatabaseTest, ResetEmptiesEveryTableTheClusterOnesToo)
{
    db.exec("INSERT INTO userinfo (username) VALUES ('ann')");
    db.exec("INSERT INTO groupinfo (groupname) VALUES ('team')");
    db.exec("INSERT INTO msgpool (username) VALUES ('ann')");
    std::vector<const char*> tables{"userinfo", "groupinfo", "msgpool"};
    if (db.is_postgresql()) {
        db.exec("INSERT INTO nodes (name, lease_until, started) VALUES ('n1', now(), now())");
        db.exec("INSERT INTO sessions (username, node, since) VALUES ('ann', 'n1', now())");
        tables.insert(tables.end(), {"nodes", "sessions"});
    }
    db.reset();
    for (const char* table : tables)
        EXPECT_EQ(db.scalar(std::string("SELECT count(*) FROM ") + table), "0") << table;
}

} // namespace
} // namespace qs::test
