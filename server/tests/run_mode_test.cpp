#include <gtest/gtest.h>

#include <fstream>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "server_process.h"
#include "store_fixture.h"

namespace qs::test {
namespace {

using RunModeTest = StoreTest;

std::string listening(const server_process& server)
{
    return "Listening on 0.0.0.0:" + std::to_string(server.port()) + "; database \"Quillspeak Database\" (" +
           (test_database::get().is_postgresql() ? "PostgreSQL" : "SQLite") + ").\n";
}

const std::string usage = "Usage:\nStart server: qsserver --console\n"
                          "Install service: qsserver --service install [--user NAME]\n"
                          "Uninstall service: qsserver --service uninstall\n"
                          "Run as the service: qsserver [--service]\n"
                          "Help and version: qsserver --help | --version\n";

TEST_F(RunModeTest, CommandLineWordsChooseTheModeAndTheExitStatusSaysHowItWent)
{
    temp_dir dir;
    ::unsetenv("NOTIFY_SOCKET");
    struct run_case {
        std::vector<std::string> args;
        std::string out;
        std::string err;
        int status;
    };
    const std::string no_service = "Running qsserverd as NT service...Error running service\n";
    const std::string how = "qsserver: not started by systemd; to run it in a terminal: qsserver --console\n";
    const std::vector<run_case> cases = {
        {{"--help"}, usage, "", 0},
        {{"-h"}, usage, "", 0},
        {{"--version"}, "qsserver 0.1\n", "", 0},
        {{"-V"}, "qsserver 0.1\n", "", 0},
        {{"--Console"}, "", usage, 2},
        {{"install"}, "", usage, 2},
        {{"--service", "remove"}, "", usage, 2},
        {{"--service", "install", "--user"}, "", usage, 2},
        {{"--console", "x", "y"}, "", usage, 2},
        {{}, no_service, how, 1},
        {{"--service"}, no_service, how, 1},
    };
    for (const auto& c : cases) {
        auto [out, status] = run_qsserver(dir.path(), c.args);
        const std::string what = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(out, c.out) << what;
        EXPECT_EQ(read_file(dir.path() + "/run.err"), c.err) << what;
        EXPECT_EQ(status, c.status) << what;
    }
}

TEST_F(RunModeTest, ConsoleModeShowsBannerAndSettingsOnly)
{
    server_process server;
    server.start();
    EXPECT_EQ(server.stop(), 0);
    EXPECT_EQ(server.console(), "Running qsserver in console mode...Quillspeak server qsserver\nVersion 0.1\n"
                                "Stop it with Ctrl+C or SIGTERM; pending messages are kept.\n\n"
                                "Initializing settings...Ok.\n" +
                                    listening(server));
}

TEST_F(RunModeTest, InstallWritesASandboxedUnitForItsOwnUserOnce)
{
    temp_dir dir, units;
    const std::vector<std::string> env = {"QS_UNIT_DIR=" + units.path(), "ODBCINI=" + (db.dir() + "/odbc.ini")};
    auto run = [&](std::vector<std::string> args) { return run_qsserver(dir.path(), args, env); };
    EXPECT_EQ(run({"--service", "install", "--user", "qsuser"}).first,
              "Installing service...Ok.\nThe service runs as qsuser, which must be able to write " + dir.path() +
                  ".\n");
    const std::string path = units.path() + "/qsserverd.service";
    const std::string unit = read_file(path);
    const std::vector<std::string> lines = {"Type=notify",
                                            "ExecStart=" QS_SERVER_PATH,
                                            "WorkingDirectory=" + dir.path(),
                                            "User=qsuser",
                                            "Restart=on-failure",
                                            "ProtectSystem=strict",
                                            "ReadWritePaths=" + dir.path(),
                                            "NoNewPrivileges=yes",
                                            "Environment=\"ODBCINI=" + (db.dir() + "/odbc.ini") + "\""};
    for (const auto& line : lines)
        EXPECT_NE(unit.find("\n" + line + "\n"), std::string::npos) << line << "\n" << unit;
    if (std::system("systemd-analyze --version >/dev/null 2>&1") == 0) {
        const std::string score = dir.path() + "/score";
        std::system(("systemd-analyze security --offline=true --no-pager " + path + " > " + score + " 2>&1").c_str());
        const std::string report = read_file(score);
        const auto at = report.find("Overall exposure level for qsserverd.service: ");
        ASSERT_NE(at, std::string::npos) << report;
        EXPECT_LE(std::stod(report.substr(at + 46)), 3.0) << report.substr(at);
    }
    const auto [again, status] = run({"--service", "install"});
    EXPECT_EQ(again, "Installing service...Failed.\n");
    EXPECT_EQ(status, 1);
    EXPECT_NE(read_file(dir.path() + "/run.err").find("exists already"), std::string::npos);
    EXPECT_EQ(run({"--service", "uninstall"}), std::make_pair(std::string("Uninstalling service...Ok.\n"), 0));
    EXPECT_EQ(run({"--service", "uninstall"}),
              std::make_pair(std::string("Uninstalling service...Failed, not installed?\n"), 1));
}

// Plays systemd: a notify socket that collects what the service tells it.
class notify_socket {
public:
    explicit notify_socket(const std::string& path) : path_(path)
    {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        path.copy(addr.sun_path, sizeof addr.sun_path - 1);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    }
    ~notify_socket() { ::close(fd_); }
    // True when nothing was sent.
    bool empty()
    {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, 0) == 0;
    }
    // The next message, or "" after 10 s.
    std::string next()
    {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 10000) != 1)
            return "";
        char buf[512];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "";
    }

private:
    std::string path_;
    int fd_;
};

TEST_F(RunModeTest, ServiceModeTellsSystemdReadyAndStopping)
{
    server_process service;
    notify_socket systemd(service.dir() + "/notify");
    const std::vector<std::string> env = {"NOTIFY_SOCKET=" + service.dir() + "/notify"};
    service.start({}, env);
    EXPECT_EQ(systemd.next(), "READY=1");
    auto [out, status] = run_qsserver(service.dir(), {"--service"}, env);
    EXPECT_EQ(out, "Running qsserverd as NT service...Already running\n");
    EXPECT_EQ(status, 1);
    {
        client c(service.port());
        EXPECT_EQ(c.exec("ver"), "0.1");
    }
    EXPECT_EQ(service.stop(), 0);
    EXPECT_EQ(systemd.next(), "STOPPING=1");
    EXPECT_EQ(service.console(),
              "Running qsserverd as NT service...Initializing settings...Ok.\n" + listening(service));
}

TEST_F(RunModeTest, ADatabaseThatCannotBeUsedStopsTheStartWithTheDriversReason)
{
    temp_dir dir;
    std::ofstream(dir.path() + "/odbc.ini")
        << "[Quillspeak Database]\nDriver = SQLite3\nDatabase = " << dir.path() << "/missing.db\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {dir.path() + "/none.ini", "(SQLSTATE IM002)"},
        {dir.path() + "/odbc.ini", "no such table"},
    };
    for (const auto& [ini, reason] : cases) {
        notify_socket systemd(dir.path() + "/notify");
        for (const auto& args : {std::vector<std::string>{"--console"}, std::vector<std::string>{"--service"}}) {
            const auto [out, status] = run_qsserver(
                dir.path(), args, {"ODBCINI=" + ini, "HOME=" + dir.path(), "NOTIFY_SOCKET=" + dir.path() + "/notify"});
            EXPECT_EQ(status, 1) << ini;
            const std::string err = read_file(dir.path() + "/run.err");
            EXPECT_NE(err.find("qsserver: cannot use the database \"Quillspeak Database\""), std::string::npos) << err;
            EXPECT_NE(err.find(reason), std::string::npos) << err;
            EXPECT_EQ(out.find("Listening on"), std::string::npos) << out;
        }
        EXPECT_TRUE(systemd.empty()) << "no READY=1 for a server that does not run";
        ::unlink((dir.path() + "/notify").c_str());
    }
}

} // namespace
} // namespace qs::test
