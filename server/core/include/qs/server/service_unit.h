#pragma once

namespace qs {

// The systemd unit qsserverd.service, written to $QS_UNIT_DIR when set (then systemctl
// is not run), else to /etc/systemd/system. Both report on the console: "Ok." or why not.
void install_service();
void uninstall_service();

} // namespace qs
