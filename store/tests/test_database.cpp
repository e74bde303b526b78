#include "test_database.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

#include "qs/store/odbc/connection.h"
#include "qs/store/odbc/statement.h"

namespace qs::test {

namespace fs = std::filesystem;

void run(const std::string& command)
{
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        throw std::runtime_error("cannot run: " + command);
    std::string output;
    char buf[512];
    while (std::fgets(buf, sizeof buf, pipe) != nullptr)
        output += buf;
    if (::pclose(pipe) != 0)
        throw std::runtime_error("command failed: " + command + "\n" + output);
}

temp_dir::temp_dir()
{
    char pattern[] = "/tmp/qs-test.XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        throw std::runtime_error("cannot make a temporary folder");
    path_ = pattern;
}

temp_dir::~temp_dir()
{
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

namespace {

constexpr const char* data_source = "DSN=Quillspeak Database;";

// The PostgreSQL server of this test run: the one ctest started (QS_PG_STATE names its
// state file), else one this process starts and stops at exit.
class pg_cluster {
public:
    static pg_cluster& get()
    {
        static pg_cluster cluster;
        return cluster;
    }
    int port() const { return port_; }

private:
    pg_cluster()
    {
        const char* given = std::getenv("QS_PG_STATE");
        state_ = given ? given : own_state_.path() + "/state";
        if (!given) {
            run(QS_SOURCE_DIR "/store/tests/pg-server start " + state_);
            owned_ = true;
        }
        std::ifstream in(state_);
        if (!(in >> port_))
            throw std::runtime_error("no PostgreSQL server for the tests: cannot read " + state_);
    }
    ~pg_cluster()
    {
        if (owned_)
            std::system((QS_SOURCE_DIR "/store/tests/pg-server stop " + state_).c_str());
    }

    temp_dir own_state_;
    std::string state_;
    bool owned_ = false;
    int port_ = 0;
};

// A database of its own on the test server, dropped at exit.
class pg_database {
public:
    pg_database() : port_(pg_cluster::get().port()), name_("t" + std::to_string(::getpid()))
    {
        admin("DROP DATABASE IF EXISTS " + name_);
        admin("CREATE DATABASE " + name_ + " TEMPLATE qs_template");
    }
    ~pg_database()
    {
        try {
            admin("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
        } catch (...) {
        }
    }

    std::string odbc_ini() const
    {
        return "[Quillspeak Database]\nDriver = PostgreSQL ANSI\nServername = 127.0.0.1\nPort = " +
               std::to_string(port_) + "\nDatabase = " + name_ +
               "\nUsername = postgres\nConnSettings = SET client_encoding TO 'SQL_ASCII'\n";
    }

private:
    void admin(const std::string& sql) const
    {
        odbc::connection conn("Driver=PostgreSQL ANSI;Servername=127.0.0.1;Port=" + std::to_string(port_) +
                              ";Database=postgres;Username=postgres;");
        odbc::statement stmt(conn);
        stmt.execute(sql);
    }

    int port_;
    std::string name_;
};

// The schema file's statements, without comments and PRAGMAs.
std::vector<std::string> schema_statements(const char* file)
{
    std::ifstream in(std::string(QS_SOURCE_DIR "/store/schema/") + file);
    std::string text, line;
    while (std::getline(in, line))
        if (line.rfind("--", 0) != 0 && line.rfind("PRAGMA", 0) != 0)
            text += line + "\n";
    std::vector<std::string> out;
    std::stringstream parts(text);
    std::string part;
    while (std::getline(parts, part, ';'))
        if (part.find_first_not_of(" \n") != std::string::npos)
            out.push_back(part);
    return out;
}

temp_dir& process_dir()
{
    static temp_dir dir;
    return dir;
}

// The drivers stay loaded until exit (DontDLClose), so that leak reports of the
// sanitizer builds can name them.
void use_own_driver_list(const std::string& dir)
{
    fs::create_directory(dir);
    std::ofstream(dir + "/odbcinst.ini")
        << "[SQLite3]\nDriver = /usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so\nDontDLClose = 1\n\n"
        << "[PostgreSQL ANSI]\nDriver = /usr/lib/x86_64-linux-gnu/odbc/psqlodbca.so\nDontDLClose = 1\n";
    ::setenv("ODBCSYSINI", dir.c_str(), 1);
}

} // namespace

test_database& test_database::get()
{
    static test_database db;
    return db;
}

test_database::test_database() : dir_(process_dir().path())
{
    use_own_driver_list(dir_ + "/drivers");
#ifdef QS_TEST_POSTGRESQL
    static pg_database pg;
    std::ofstream(dir_ + "/odbc.ini") << pg.odbc_ini();
#else
    run("QS_SQLITE_BUSY_MS=" + std::to_string(busy_timeout_ms) + " bash " QS_SOURCE_DIR "/scripts/init-db " + dir_);
#endif
    ::setenv("ODBCINI", (dir_ + "/odbc.ini").c_str(), 1);
}

bool test_database::is_postgresql() const
{
#ifdef QS_TEST_POSTGRESQL
    return true;
#else
    return false;
#endif
}

void test_database::reset() const
{
    for (const auto& sql : schema_statements(is_postgresql() ? "postgresql.sql" : "sqlite.sql"))
        exec(sql);
    if (is_postgresql())
        for (const char* table : {"sessions", "nodes"}) // sessions refer to nodes
            exec(std::string("DELETE FROM ") + table);
    for (const char* table : {"userinfo", "groupinfo", "msgpool"})
        exec(std::string("DELETE FROM ") + table);
}

void test_database::exec(const std::string& sql) const
{
    odbc::connection conn(data_source);
    odbc::statement stmt(conn);
    stmt.execute(sql);
}

std::string test_database::scalar(const std::string& sql) const
{
    odbc::connection conn(data_source);
    odbc::statement stmt(conn);
    stmt.execute(sql);
    return stmt.fetch() ? stmt.text(1) : "(no row)";
}

} // namespace qs::test
