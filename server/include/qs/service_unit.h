#pragma once

namespace qs {

// The systemd unit qsserverd.service, written to $QS_UNIT_DIR when set (then systemctl
// is not run), else to /etc/systemd/system. Both print their designed console texts.
void install_service();
void uninstall_service();

} // namespace qs
