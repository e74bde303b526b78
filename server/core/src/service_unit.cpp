#include "qs/server/service_unit.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "qs/server/log.h"

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

std::string unit_text()
{
    std::ostringstream unit;
    unit << "[Unit]\nDescription=Quillspeak messaging server\nAfter=network.target\n\n"
         << "[Service]\nType=notify\nExecStart=" << fs::read_symlink("/proc/self/exe").string() << "\n"
         << "WorkingDirectory=" << fs::current_path().string() << "\nRestart=on-failure\n";
    if (const char* ini = std::getenv("ODBCINI"))
        unit << "Environment=\"ODBCINI=" << ini << "\"\n";
    unit << "\n[Install]\nWantedBy=multi-user.target\n";
    return unit.str();
}

bool write_unit(const fs::path& path)
{
    std::error_code ec;
    if (fs::exists(path, ec))
        return false;
    std::ofstream out(path);
    out << unit_text();
    out.close();
    return static_cast<bool>(out);
}

} // namespace

void install_service()
{
    console_text("Installing service...");
    const fs::path path = unit_path();
    bool ok = write_unit(path);
    if (ok && managed_by_systemctl() && !(systemctl("daemon-reload") && systemctl("enable qsserverd"))) {
        std::error_code ec;
        fs::remove(path, ec);
        systemctl("daemon-reload");
        ok = false;
    }
    console_line(ok ? "Ok." : "Failed.");
}

void uninstall_service()
{
    console_text("Uninstalling service...");
    const fs::path path = unit_path();
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        console_line("Failed, not installed?");
        return;
    }
    if (managed_by_systemctl())
        systemctl("disable qsserverd");
    const bool removed = fs::remove(path, ec);
    if (removed && managed_by_systemctl())
        systemctl("daemon-reload");
    console_line(removed ? "Ok." : "Failed, unable to delete the service.");
}

} // namespace qs
