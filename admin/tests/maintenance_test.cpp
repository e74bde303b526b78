#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "admin_run.h"
#include "qs/store/odbc/connection.h"
#include "qs/store/odbc/statement.h"
#include "store_fixture.h"

namespace qs::test {
namespace {

using AdminMaintenanceTest = StoreTest;

std::string contents(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// "ODBCINI=..." of a data source on another SQLite file, in its own folder.
std::string data_source_on(const temp_dir& dir, const std::string& file)
{
    std::ofstream(dir.path() + "/odbc.ini")
        << "[Quillspeak Database]\nDriver = SQLite3\nDatabase = " << file << "\nNoCreat = 1\nNoWCHAR = 1\n";
    return "ODBCINI=" + dir.path() + "/odbc.ini";
}

// The error is one line naming the table that failed and what is wrong with it.
void expect_broken(const admin_result& r, const std::string& tables_ok, const std::string& table,
                   const std::string& reason_part)
{
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, tables_ok);
    const std::string head = "qsadmin: table " + table + ": SQLSTATE ";
    EXPECT_EQ(r.err.rfind(head, 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_NE(r.err.find(reason_part), std::string::npos) << r.err;
}

TEST_F(AdminMaintenanceTest, CheckOpensTheThreeTablesWithEveryColumn)
{
    const auto good = qsadmin({"check"});
    EXPECT_EQ(good.status, 0);
    EXPECT_EQ(good.out, "userinfo: ok\ngroupinfo: ok\nmsgpool: ok\n" +
                            std::string(db.is_postgresql() ? "nodes: ok\nsessions: ok\n" : ""));
    EXPECT_EQ(good.err, "");

    db.exec("ALTER TABLE msgpool DROP COLUMN custommessages");
    expect_broken(qsadmin({"check"}), "userinfo: ok\ngroupinfo: ok\n", "msgpool", "custommessages");
    db.exec("DROP TABLE msgpool");
    expect_broken(qsadmin({"check"}), "userinfo: ok\ngroupinfo: ok\n", "msgpool", "msgpool");
    db.exec("DROP TABLE userinfo");
    expect_broken(qsadmin({"check"}), "", "userinfo", "userinfo");
}

TEST_F(AdminMaintenanceTest, OnPostgreSQLAClusterTableThatDoesNotOpenIsAWarningNamingIt)
{
    if (!db.is_postgresql())
        GTEST_SKIP() << "PostgreSQL only";
    const std::string three_ok = "userinfo: ok\ngroupinfo: ok\nmsgpool: ok\n";
    const std::string needed = "; cluster mode needs it (single-node servers do not)\n";
    db.exec("ALTER TABLE sessions DROP COLUMN status");
    const auto column = qsadmin({"check"});
    EXPECT_EQ(column.status, 0);
    EXPECT_EQ(column.err, "");
    const std::string head = three_ok + "nodes: ok\nwarning: table sessions: SQLSTATE 42703: ";
    EXPECT_EQ(column.out.rfind(head, 0), 0u) << column.out;
    EXPECT_NE(column.out.find("status"), std::string::npos) << column.out;
    EXPECT_EQ(column.out.substr(column.out.size() - needed.size()), needed) << column.out;

    db.exec("DROP TABLE sessions");
    db.exec("DROP TABLE nodes"); // the next reset() makes both again
    const auto tables = qsadmin({"check"});
    EXPECT_EQ(tables.status, 0);
    EXPECT_EQ(tables.out, three_ok + "warning: table nodes: no such table" + needed +
                              "warning: table sessions: no such table" + needed);
    EXPECT_EQ(tables.err, "");
}

TEST_F(AdminMaintenanceTest, WithoutTheDataSourceEveryCommandFailsWithTheDriversReason)
{
    temp_dir empty;
    const std::vector<std::string> env{"ODBCINI=" + empty.path() + "/odbc.ini", "HOME=" + empty.path()};
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"check"}, {"users"}, {"adduser", "ann"}, {"backup", empty.path() + "/b.db"}}) {
        const auto r = qsadmin(args, "pw\n", env);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_EQ(r.err.rfind("qsadmin: SQLSTATE IM002: ", 0), 0u) << r.err;
    }
}

TEST_F(AdminMaintenanceTest, AMissingSQLiteFileIsNamed)
{
    if (db.is_postgresql())
        GTEST_SKIP() << "SQLite only";
    temp_dir dir;
    const auto r = qsadmin({"check"}, "", {data_source_on(dir, dir.path() + "/none.db")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("; the database file " + dir.path() + "/none.db does not exist\n"), std::string::npos)
        << r.err;
}

TEST_F(AdminMaintenanceTest, BackupOfSQLiteIsACopyThatOpensWithTheSameRowsAndNeverOverwrites)
{
    if (db.is_postgresql())
        GTEST_SKIP() << "SQLite only";
    ASSERT_EQ(qsadmin({"adduser", "ann", "--hashed"}, "pw\n").status, 0);
    ASSERT_EQ(qsadmin({"adduser", "bob"}, "pw2\n").status, 0);
    db.exec("UPDATE msgpool SET messages = 'm1|m2' WHERE username = 'bob'");
    db.exec("INSERT INTO groupinfo (groupname, members, masters) VALUES ('team', 'ann|bob', 'ann')");
    temp_dir dir;
    const std::string copy = dir.path() + "/copy.db";

    const auto made = qsadmin({"backup", copy});
    EXPECT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.out, "Copied the database to " + copy + ".\n");
    db.exec("DELETE FROM userinfo"); // the copy does not follow
    const std::string on_copy = data_source_on(dir, copy);
    EXPECT_EQ(qsadmin({"users"}, "", {on_copy}).out,
              "ann: 0 personal, 0 group, 0 custom\nbob: 2 personal, 0 group, 0 custom\n");
    EXPECT_EQ(qsadmin({"group", "team"}, "", {on_copy}).out, "members: ann, bob\nmasters: ann\n");
    odbc::connection conn("Driver=SQLite3;Database=" + copy + ";NoCreat=1;");
    odbc::statement stmt(conn);
    stmt.execute("SELECT password FROM userinfo WHERE username = 'bob'");
    ASSERT_TRUE(stmt.fetch());
    EXPECT_EQ(stmt.text(1), "pw2");

    const std::string before = contents(copy);
    const auto again = qsadmin({"backup", copy});
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.err, "qsadmin: '" + copy + "' exists already\n");
    EXPECT_EQ(contents(copy), before);
}

TEST_F(AdminMaintenanceTest, BackupOfPostgreSQLIsLeftToPgDump)
{
    if (!db.is_postgresql())
        GTEST_SKIP() << "PostgreSQL only";
    temp_dir dir;
    const auto r = qsadmin({"backup", dir.path() + "/copy.db"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qsadmin: backup copies SQLite databases only: back up PostgreSQL with pg_dump\n");
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/copy.db"));
}

} // namespace
} // namespace qs::test
