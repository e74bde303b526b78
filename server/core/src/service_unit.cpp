#include "qs/server/core/service_unit.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <pwd.h>
#include <sstream>
#include <vector>

#include "qs/server/logic/log.h"

namespace qs {

namespace fs = std::filesystem;

namespace {

constexpr const char* unit_name = "qsserverd.service";

// With $QS_UNIT_DIR set the unit goes there and systemd is left alone.
bool managed_by_systemctl()
{
    return std::getenv("QS_UNIT_DIR") == nullptr;
}

fs::path unit_path()
{
    const char* dir = std::getenv("QS_UNIT_DIR");
    return fs::path(dir ? dir : "/etc/systemd/system") / unit_name;
}

bool systemctl(const std::string& arguments)
{
    return std::system(("systemctl " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

// Folders of the SQLite files an odbc.ini names ("Database = /path/file.db").
std::vector<std::string> database_folders(const char* ini)
{
    std::vector<std::string> out;
    std::ifstream in(ini ? ini : "");
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos || line.compare(0, 8, "Database") != 0)
            continue;
        const auto start = line.find_first_not_of(" \t", eq + 1);
        if (start != std::string::npos && line[start] == '/')
            out.push_back(fs::path(line.substr(start)).parent_path().string());
    }
    return out;
}

bool under_home(const std::string& path)
{
    return path.rfind("/home/", 0) == 0 || path.rfind("/root", 0) == 0 || path.rfind("/run/user/", 0) == 0;
}

// The sandbox: the server reads its program and libraries, writes only its working
// folder (and the SQLite database's), talks TCP and to local sockets, and nothing else.
void write_hardening(std::ostream& unit, const std::vector<std::string>& writable)
{
    bool home = false;
    for (const auto& w : writable) {
        unit << "ReadWritePaths=" << w << "\n";
        home = home || under_home(w);
    }
    unit << "ProtectHome=" << (home || under_home(fs::read_symlink("/proc/self/exe").string()) ? "read-only" : "yes")
         << "\n"
         << "NoNewPrivileges=yes\nProtectSystem=strict\nPrivateTmp=yes\nPrivateDevices=yes\nPrivateUsers=yes\n"
         << "ProtectKernelTunables=yes\nProtectKernelModules=yes\nProtectKernelLogs=yes\nProtectControlGroups=yes\n"
         << "ProtectClock=yes\nProtectHostname=yes\nProtectProc=invisible\nProcSubset=pid\n"
         << "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX\nRestrictNamespaces=yes\nRestrictRealtime=yes\n"
         << "RestrictSUIDSGID=yes\nLockPersonality=yes\nMemoryDenyWriteExecute=yes\nRemoveIPC=yes\nUMask=0077\n"
         << "CapabilityBoundingSet=\nSystemCallArchitectures=native\nSystemCallFilter=@system-service\n"
         << "SystemCallFilter=~@privileged\nSystemCallErrorNumber=EPERM\n";
}

std::string unit_text(const std::string& user)
{
    const std::string folder = fs::current_path().string();
    const char* ini = std::getenv("ODBCINI");
    std::vector<std::string> writable{folder};
    for (const auto& f : database_folders(ini))
        if (std::find(writable.begin(), writable.end(), f) == writable.end())
            writable.push_back(f);
    std::ostringstream unit;
    unit << "[Unit]\nDescription=Quillspeak messaging server\nDocumentation=man:qsserver(8)\nAfter=network.target\n\n"
         << "[Service]\nType=notify\nExecStart=" << fs::read_symlink("/proc/self/exe").string() << "\n"
         << "WorkingDirectory=" << folder << "\nUser=" << user << "\nGroup=" << user
         << "\nRestart=on-failure\nLimitNOFILE=65536\n";
    if (ini)
        unit << "Environment=\"ODBCINI=" << ini << "\"\n";
    write_hardening(unit, writable);
    unit << "\n[Install]\nWantedBy=multi-user.target\n";
    return unit.str();
}

// Why the unit could not be written; empty when it was.
std::string write_unit(const fs::path& path, const std::string& user)
{
    std::error_code ec;
    if (fs::exists(path, ec))
        return path.string() + " exists already; run 'qsserver --service uninstall' first";
    std::ofstream out(path);
    out << unit_text(user);
    out.close();
    return out ? "" : "cannot write " + path.string() + ": " + std::strerror(errno);
}

// The service's own system user, made when missing.
std::string ensure_user(const std::string& user)
{
    if (::getpwnam(user.c_str()) != nullptr)
        return "";
    if (std::system(
            ("useradd --system --no-create-home --shell /usr/sbin/nologin '" + user + "' >/dev/null 2>&1").c_str()) !=
        0)
        return "cannot create the system user " + user + " (useradd failed)";
    return "";
}

} // namespace

bool install_service(const std::string& user)
{
    console_text("Installing service...");
    const fs::path path = unit_path();
    std::string why;
    if (user.empty() || user.find_first_of("'/: ") != std::string::npos)
        why = "'" + user + "' is not a user name";
    if (why.empty() && managed_by_systemctl())
        why = ensure_user(user);
    if (why.empty())
        why = write_unit(path, user);
    if (why.empty() && managed_by_systemctl() && !(systemctl("daemon-reload") && systemctl("enable qsserverd"))) {
        std::error_code ec;
        fs::remove(path, ec);
        systemctl("daemon-reload");
        why = "systemctl could not enable qsserverd";
    }
    console_line(why.empty() ? "Ok." : "Failed.");
    if (!why.empty())
        std::cerr << "qsserver: " << why << "." << std::endl;
    else
        console_line("The service runs as " + user + ", which must be able to write " + fs::current_path().string() +
                     ".");
    return why.empty();
}

bool uninstall_service()
{
    console_text("Uninstalling service...");
    const fs::path path = unit_path();
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        console_line("Failed, not installed?");
        return false;
    }
    if (managed_by_systemctl())
        systemctl("disable qsserverd");
    const bool removed = fs::remove(path, ec);
    if (removed && managed_by_systemctl())
        systemctl("daemon-reload");
    console_line(removed ? "Ok." : "Failed, unable to delete the service.");
    return removed;
}

} // namespace qs
