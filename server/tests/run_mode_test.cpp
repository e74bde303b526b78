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

const std::string usage = "Usage:\nStart server: qsserver --console\nInstall service: qsserver --service install\n"
                          "Uninstall service: qsserver --service uninstall\n";

TEST_F(RunModeTest, CommandLineWordsChooseTheMode)
{
    temp_dir dir;
    ::unsetenv("NOTIFY_SOCKET");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--Console"}, usage},
        {{"install"}, usage},
        {{"--service", "remove"}, usage},
        {{"--console", "x", "y"}, usage},
        {{}, "Running qsserverd as NT service...Error running service\n"},
        {{"--service"}, "Running qsserverd as NT service...Error running service\n"},
    };
    for (const auto& [args, expected] : cases) {
        auto [out, status] = run_qsserver(dir.path(), args);
        EXPECT_EQ(out, expected);
        EXPECT_EQ(status, 0);
    }
}

TEST_F(RunModeTest, ConsoleModeShowsBannerAndSettingsOnly)
{
    server_process server;
    server.start();
    EXPECT_EQ(server.stop(), 0);
    EXPECT_EQ(server.console(), "Running qsserver in console mode...Quillspeak server qsserver\nVersion 0.1\n"
                                "Stop it with Ctrl+C or SIGTERM; pending messages are kept.\n\n"
                                "Initializing settings...Ok.\n");
}

TEST_F(RunModeTest, InstallAndUninstallTheUnit)
{
    temp_dir dir, units;
    const std::vector<std::string> env = {"QS_UNIT_DIR=" + units.path(), "ODBCINI=/srv/qs/odbc.ini"};
    auto run = [&](const char* verb) { return run_qsserver(dir.path(), {"--service", verb}, env).first; };
    EXPECT_EQ(run("install"), "Installing service...Ok.\n");
    const std::string unit = read_file(units.path() + "/qsserverd.service");
    const std::vector<std::string> lines = {"Type=notify", "ExecStart=" QS_SERVER_PATH, "WorkingDirectory=" + dir.path(),
                                            "Restart=on-failure", "Environment=\"ODBCINI=/srv/qs/odbc.ini\""};
    for (const auto& line : lines)
        EXPECT_NE(unit.find("\n" + line + "\n"), std::string::npos) << line << "\n" << unit;
    EXPECT_EQ(run("install"), "Installing service...Failed.\n");
    EXPECT_EQ(run("uninstall"), "Uninstalling service...Ok.\n");
    EXPECT_EQ(run("uninstall"), "Uninstalling service...Failed, not installed?\n");
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
    {
        client c(service.port());
        EXPECT_EQ(c.exec("ver"), "0.1");
    }
    EXPECT_EQ(service.stop(), 0);
    EXPECT_EQ(systemd.next(), "STOPPING=1");
    EXPECT_EQ(service.console(), "Running qsserverd as NT service...Initializing settings...Ok.\n");
}

} // namespace
} // namespace qs::test
