#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <regex>
#include <sstream>
#include <unistd.h>

#include "program_run.h"
#include "store_fixture.h"

namespace qs::test {
namespace {

const std::string banner = "Quillspeak database probe 0.1 - checks the tables of \"Quillspeak Database\"\n";
const std::string advice = "Failed.\nPlease check the table(s) in the database.\n";
const std::string three_ok = "Trying to access table: userinfo...Ok.\n"
                             "Trying to access table: groupinfo...Ok.\n"
                             "Trying to access table: msgpool...Ok.\n";
const std::string finished = "\nFinished\n";

// Every table opens: on PostgreSQL the cluster tables too, on SQLite they are not named.
std::string all_ok()
{
    const std::string cluster = "Trying to access table: nodes...Ok.\nTrying to access table: sessions...Ok.\n";
    return banner + three_ok + (test_database::get().is_postgresql() ? cluster : "") + finished;
}

program_result probe(const std::vector<std::string>& env = {})
{
    return run_program(QS_PROBE_PATH, {}, env);
}

// The test database's odbc.ini with one setting changed, in a folder of its own.
class changed_data_source {
public:
    changed_data_source(const std::string& key, const std::string& value)
    {
        std::ifstream in(test_database::get().dir() + "/odbc.ini");
        std::stringstream text;
        text << in.rdbuf();
        std::ofstream(dir_.path() + "/odbc.ini")
            << std::regex_replace(text.str(), std::regex("\n" + key + " = [^\n]*"), "\n" + key + " = " + value);
    }
    std::string env() const { return "ODBCINI=" + dir_.path() + "/odbc.ini"; }

private:
    temp_dir dir_;
};

// The output of a failed check: the tables before the failing one, then the reason.
void expect_failure_at(const program_result& r, const std::string& tables_ok, const std::string& table,
                       const std::string& reason_part)
{
    EXPECT_EQ(r.status, 1);
    const std::string head = banner + tables_ok + "Trying to access table: " + table + "..." + advice;
    ASSERT_EQ(r.out.substr(0, head.size()), head) << r.out;
    const std::string reason = r.out.substr(head.size());
    EXPECT_EQ(reason.find('\n'), reason.size() - 1) << "one reason line: " << reason;
    EXPECT_NE(reason.find(reason_part), std::string::npos) << reason;
}

using ProbeTest = StoreTest;

TEST_F(ProbeTest, AGoodDatabaseGetsThreeOksThenFinishedAndExitsZero)
{
    db.exec("INSERT INTO userinfo (username, details) VALUES ('ann', '" + std::string(300, 'd') + "')");
    const auto r = probe();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, all_ok());
    EXPECT_EQ(r.err, "");
}

TEST_F(ProbeTest, InputThatIsNotATerminalIsNeverWaitedOn)
{
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    const auto r = run_program(QS_PROBE_PATH, {}, {}, fds[0]); // the write end stays open: a read would block
    ::close(fds[0]);
    ::close(fds[1]);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, all_ok());
}

TEST_F(ProbeTest, OnATerminalItWaitsForAKeyBeforeAndAfterTheCheck)
{
    const auto r = run_on_terminal(
        QS_PROBE_PATH, {}, {{"Press any key to begin the test...", "a"}, {"Press any key to continue...", "b"}});
    EXPECT_EQ(r.status, 0);
    const std::string start = "Press any key to begin the test...\n";
    EXPECT_EQ(r.out, banner + start + all_ok().substr(banner.size()) + "Press any key to continue...\n");
}

TEST_F(ProbeTest, WithoutADataSourceTheFirstTableFailsWithTheDriversReason)
{
    temp_dir empty;
    expect_failure_at(probe({"ODBCINI=" + empty.path() + "/odbc.ini", "HOME=" + empty.path()}), "", "userinfo",
                      "SQLSTATE IM002: ");
}

TEST_F(ProbeTest, AMissingTableOrColumnStopsTheCheckThereAndIsNamed)
{
    const std::string first_ok = "Trying to access table: userinfo...Ok.\n";
    db.exec("DROP TABLE groupinfo");
    expect_failure_at(probe(), first_ok, "groupinfo", "groupinfo");
    db.reset();
    db.exec("ALTER TABLE groupinfo DROP COLUMN facepath");
    expect_failure_at(probe(), first_ok, "groupinfo", "facepath");
    db.exec("DROP TABLE groupinfo"); // the next reset() makes it whole again
}

TEST_F(ProbeTest, OnPostgreSQLAMissingClusterTableIsAWarningAndTheCheckStillPasses)
{
    if (!db.is_postgresql())
        GTEST_SKIP() << "PostgreSQL only";
    db.exec("DROP TABLE sessions"); // the next reset() makes it again
    const auto r = probe();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, banner + three_ok +
                         "Trying to access table: nodes...Ok.\n"
                         "Trying to access table: sessions...Warning.\n"
                         "table sessions: no such table; cluster mode needs it (single-node servers do not)\n" +
                         finished);
}

TEST_F(ProbeTest, AMissingSQLiteFileIsNamed)
{
    if (db.is_postgresql())
        GTEST_SKIP() << "SQLite only";
    temp_dir gone;
    const changed_data_source ds("Database", gone.path() + "/none.db");
    expect_failure_at(probe({ds.env()}), "", "userinfo",
                      "the database file " + gone.path() + "/none.db does not exist");
}

TEST_F(ProbeTest, AMissingPostgreSQLRoleOrDatabaseIsNamed)
{
    if (!db.is_postgresql())
        GTEST_SKIP() << "PostgreSQL only";
    const changed_data_source role("Username", "nosuchrole");
    expect_failure_at(probe({role.env()}), "", "userinfo", "role \"nosuchrole\" does not exist");
    const changed_data_source database("Database", "nosuchdb");
    expect_failure_at(probe({database.env()}), "", "userinfo", "database \"nosuchdb\" does not exist");
}

TEST_F(ProbeTest, HelpAndVersionExitZeroAnythingElseIsAUsageError)
{
    const auto help = run_program(QS_PROBE_PATH, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: qsprobe", 0), 0u) << help.out;
    for (const std::string option : {"--version", "-V"}) {
        const auto version = run_program(QS_PROBE_PATH, {option});
        EXPECT_EQ(version.status, 0);
        EXPECT_EQ(version.out, "qsprobe (Quillspeak) 0.1\n");
    }
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--bogus"}, {"--help", "x"}}) {
        const auto bad = run_program(QS_PROBE_PATH, args);
        EXPECT_EQ(bad.status, 2);
        EXPECT_EQ(bad.out, "");
        EXPECT_NE(bad.err.find("qsprobe: unexpected argument '" + args.back() + "'\nUsage: qsprobe"), std::string::npos)
            << bad.err;
    }
}

} // namespace
} // namespace qs::test
