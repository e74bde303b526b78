#pragma once

#include <string>

namespace qs::test {

// The database behind "Quillspeak Database" for this test process: a SQLite file made
// by scripts/init-db, or a database on the test PostgreSQL server (built with
// QS_TEST_POSTGRESQL). Made on first use; ODBCINI points at it for the whole process.
class test_database {
public:
    static test_database& get();

    // Puts back the three tables, empty; on PostgreSQL also the cluster tables.
    void reset() const;
    // Runs one statement on a connection of its own.
    void exec(const std::string& sql) const;
    // The first column of the first row of a query, "(no row)" when there is none.
    std::string scalar(const std::string& sql) const;

    bool is_postgresql() const;
    // How long a SQLite writer waits for another before "database is locked".
    static constexpr int busy_timeout_ms = 1000;
    // The folder holding odbc.ini.
    const std::string& dir() const { return dir_; }

private:
    test_database();

    std::string dir_;
};

// A folder under /tmp, removed with its contents on destruction.
class temp_dir {
public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Runs a shell command; throws with its output when it fails.
void run(const std::string& command);

} // namespace qs::test
