#!/usr/bin/env bash
# `cmake --install` of a built tree into /usr/local (under DESTDIR): nothing lands outside the
# prefix (/etc included), the programs run from there, the service's files name the prefix's
# folders, and a second install keeps the settings changed in between.
#   dist/tests/install.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "$*"
    exit 1
}
root=$work/root
p=$root/usr/local
install_tree() {
    DESTDIR=$root cmake --install "$build" --prefix /usr/local >"$work/install.log" 2>&1 ||
        { cat "$work/install.log"; fail "cmake --install failed"; }
}

install_tree
outside=$(cd "$root" && find . -mindepth 1 -not -path ./usr -not -path ./usr/local -not -path './usr/local/*')
[ -z "$outside" ] || fail "installed outside /usr/local: $outside"
for path in bin/qsserver bin/qsclient bin/qsprobe bin/qsadmin sbin/quillspeak-init-db lib/libkel.so lib/libfault.so \
    include/qs/net/kel.h share/quillspeak/sqlite.sql share/quillspeak/web/index.html share/man/man8/qsserver.8.gz \
    lib/systemd/system/qsserverd.service etc/quillspeak/qsserver.conf etc/quillspeak/odbc.ini; do
    [ -e "$p/$path" ] || fail "not installed: /usr/local/$path"
done
for program in qsserver qsclient qsprobe qsadmin; do
    said=$("$p/bin/$program" --version) || fail "$program --version failed"
    [[ "$said" == "$program "*[0-9] ]] || fail "$program --version said: $said"
done
[ -x "$p/sbin/quillspeak-init-db" ] || fail "quillspeak-init-db is not executable"
sh -n "$p/sbin/quillspeak-init-db"

state=/usr/local/var/lib/quillspeak
[ "$(readlink "$root$state/qsserver.conf")" = /usr/local/etc/quillspeak/qsserver.conf ] ||
    fail "$state/qsserver.conf does not link to /usr/local/etc/quillspeak/qsserver.conf"
unit=$p/lib/systemd/system/qsserverd.service
for line in ExecStart=/usr/local/bin/qsserver WorkingDirectory=$state \
    'Environment="ODBCSYSINI=/usr/local/etc/quillspeak"'; do
    grep -qxF "$line" "$unit" || fail "the unit lacks $line"
done
grep -qxF "Database = $state/quillspeak.db" "$p/etc/quillspeak/odbc.ini" || fail "odbc.ini names another database"
grep -qF "$state/quillspeak.db" "$p/sbin/quillspeak-init-db" || fail "quillspeak-init-db makes another database"

echo 'port=7100' >>"$p/etc/quillspeak/qsserver.conf"
install_tree
grep -qx 'port=7100' "$p/etc/quillspeak/qsserver.conf" || fail "a second install replaced the changed qsserver.conf"
echo "install ok"
