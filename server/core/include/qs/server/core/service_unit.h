#pragma once

#include <string>

namespace qs {

// The systemd unit qsserverd.service, written to $QS_UNIT_DIR when set (then neither
// systemctl nor useradd is run), else to /etc/systemd/system. The service runs as user
// (a system user made when missing) in the current folder, sandboxed. Both report on
// the console, "Ok." or not, with the reason on standard error; true when done.
bool install_service(const std::string& user = "quillspeak");
bool uninstall_service();

} // namespace qs
