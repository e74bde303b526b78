#include "qs/store/missing_database_file.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <odbcinst.h>

namespace qs {

namespace {

// One setting of the data source, as unixODBC finds it (ODBCINI, ~/.odbc.ini, /etc/odbc.ini).
std::string setting(const char* key)
{
    char value[4096] = {};
    if (SQLGetPrivateProfileString("Quillspeak Database", key, "", value, sizeof value, "odbc.ini") <= 0)
        return "";
    return value;
}

bool names_sqlite(std::string driver)
{
    std::transform(driver.begin(), driver.end(), driver.begin(), [](unsigned char c) { return std::tolower(c); });
    return driver.find("sqlite") != std::string::npos;
}

} // namespace

std::string missing_database_file()
{
    std::string file = setting("Database");
    std::error_code error;
    if (file.empty() || !names_sqlite(setting("Driver")) || std::filesystem::exists(file, error) || error)
        return "";
    return file;
}

} // namespace qs
