#include <gtest/gtest.h>

#include <cstdio>

#include "store_fixture.h"

namespace qs::test {
namespace {

// Runs qsprobe with two key presses on standard input and returns what it printed.
std::string run_probe(const std::string& env = "")
{
    FILE* pipe = ::popen(("printf 'ab' | " + env + " " QS_PROBE_PATH).c_str(), "r");
    std::string out;
    char buf[256];
    while (std::fgets(buf, sizeof buf, pipe) != nullptr)
        out += buf;
    EXPECT_EQ(::pclose(pipe), 0) << "qsprobe always exits with 0";
    return out;
}

const std::string banner = "Quillspeak database probe 0.1 - checks the tables of \"Quillspeak Database\"\n"
                           "Press any key to begin the test...\n";
const std::string closing = "Press any key to continue...\n";
const std::string advice = "Failed.\nPlease check the table(s) in the database.\n";

using ProbeTest = StoreTest;

TEST_F(ProbeTest, AGoodDatabaseGetsThreeOksThenFinished)
{
    db.exec("INSERT INTO userinfo (username, details) VALUES ('ann', '" + std::string(300, 'd') + "')");
    EXPECT_EQ(run_probe(), banner +
                               "Trying to access table: userinfo...Ok.\n"
                               "Trying to access table: groupinfo...Ok.\n"
                               "Trying to access table: msgpool...Ok.\n"
                               "\n"
                               "Finished\n" + closing);
}

TEST_F(ProbeTest, WithoutADataSourceTheFirstTableFails)
{
    temp_dir empty;
    EXPECT_EQ(run_probe("ODBCINI=" + empty.path() + "/odbc.ini HOME=" + empty.path()),
              banner + "Trying to access table: userinfo..." + advice + closing);
}

TEST_F(ProbeTest, AMissingTableOrColumnStopsTheCheckThere)
{
    const std::string expected =
        banner + "Trying to access table: userinfo...Ok.\nTrying to access table: groupinfo..." + advice + closing;
    db.exec("DROP TABLE groupinfo");
    EXPECT_EQ(run_probe(), expected);
    db.reset();
    db.exec("ALTER TABLE groupinfo DROP COLUMN facepath");
    EXPECT_EQ(run_probe(), expected);
    db.exec("DROP TABLE groupinfo");  // the next reset() makes it whole again
}

} // namespace
} // namespace qs::test
