#!/usr/bin/env bash
# The Debian package of a built tree: its files, control fields and maintainer scripts; the
# service's unit, settings and data source against what the tree's own tools make; lintian;
# and its programs, settings and data source at work.
#   dist/tests/package.sh BUILD_DIR
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "$*"
    exit 1
}

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/out/*.deb)

# What it holds.
dpkg-deb --contents "$deb" >"$work/contents"
for path in usr/bin/qsserver usr/bin/qsclient usr/bin/qsprobe usr/bin/qsadmin usr/sbin/quillspeak-init-db \
    usr/lib/libkel.so usr/lib/libfault.so \
    usr/include/qs/net/kel.h usr/include/qs/net/kelclient.h usr/include/qs/fault/exception.h \
    usr/share/quillspeak/sqlite.sql usr/share/quillspeak/postgresql.sql usr/share/quillspeak/qsserver.conf \
    usr/share/quillspeak/quillspeak.logrotate usr/share/quillspeak/web/index.html usr/share/quillspeak/web/js/app.js \
    usr/share/man/man1/qsclient.1.gz usr/share/man/man8/qsserver.8.gz usr/share/man/man8/qsprobe.8.gz \
    usr/share/man/man8/qsadmin.8.gz usr/share/man/man8/quillspeak-init-db.8.gz \
    usr/share/doc/quillspeak/copyright usr/share/doc/quillspeak/changelog.gz \
    usr/lib/systemd/system/qsserverd.service etc/quillspeak/qsserver.conf etc/quillspeak/odbc.ini; do
    grep -q " \./$path\$" "$work/contents" || { cat "$work/contents"; fail "missing from the package: $path"; }
done
grep -q ' \./var/lib/quillspeak/qsserver.conf -> /etc/quillspeak/qsserver.conf$' "$work/contents" ||
    fail "the working folder's qsserver.conf does not link to /etc/quillspeak/qsserver.conf"
grep -Eq ' \./etc/quillspeak/odbcinst.ini -> (/etc|\.\.)/odbcinst.ini$' "$work/contents" ||
    fail "/etc/quillspeak/odbcinst.ini does not link to /etc/odbcinst.ini"

# Control fields and maintainer scripts.
version=$(dpkg-deb --field "$deb" Version)
section=$(dpkg-deb --field "$deb" Section)
[ "$section" = net ] || fail "Section: $section"
depends=$(dpkg-deb --field "$deb" Depends)
for dependency in adduser libsqliteodbc sqlite3 libodbc2; do
    grep -Eq "(^|, )$dependency( |,|$)" <<<"$depends" || fail "Depends lacks $dependency: $depends"
done
dpkg-deb --control "$deb" "$work/control"
[ -f "$work/control/conffiles" ] || fail "no conffiles"
conffiles=$(sort "$work/control/conffiles")
[ "$conffiles" = $'/etc/quillspeak/odbc.ini\n/etc/quillspeak/qsserver.conf' ] || fail "conffiles: $conffiles"
for script in postinst prerm postrm; do
    [ -x "$work/control/$script" ] || fail "no executable $script"
    sh -n "$work/control/$script"
done
grep -q 'adduser --system' "$work/control/postinst" || fail "postinst makes no system user"
grep -q 'userdel quillspeak' "$work/control/postrm" || fail "postrm does not remove the user"

dpkg -x "$deb" "$work/root"
root=$work/root
zcat "$root/usr/share/doc/quillspeak/changelog.gz" | head -1 | grep -q "^quillspeak ($version) " ||
    fail "dist/debian/changelog does not start with version $version"
for elf in "$root"/usr/bin/* "$root"/usr/lib/*.so; do
    ! readelf -S "$elf" | grep -Eq '\.(symtab|debug_info) ' || fail "not stripped: $elf"
done

# The unit is the one `qsserver --service install` writes for the package's folders.
mkdir "$work/unit" "$work/from"
(cd "$work/from" && QS_UNIT_DIR=$work/unit ODBCINI=$root/etc/quillspeak/odbc.ini "$root/usr/bin/qsserver" \
    --service install >/dev/null) || fail "qsserver --service install failed"
settings() {  # the unit's settings but those that name paths of the install
    grep -Ev '^(#|$|ExecStart=|WorkingDirectory=|ReadWritePaths=|ProtectHome=|Environment=)' "$1"
}
diff <(settings "$work/unit/qsserverd.service") <(settings "$root/usr/lib/systemd/system/qsserverd.service") ||
    fail "the packaged unit differs from what qsserver --service install writes"
for line in ExecStart=/usr/bin/qsserver WorkingDirectory=/var/lib/quillspeak ReadWritePaths=/var/lib/quillspeak \
    ProtectHome=yes 'Environment="ODBCSYSINI=/etc/quillspeak"' User=quillspeak; do
    grep -qxF "$line" "$root/usr/lib/systemd/system/qsserverd.service" || fail "the unit lacks $line"
done

# The data source has the options of scripts/init-db, on the service's database.
env -u QS_SQLITE_BUSY_MS bash "$top/scripts/init-db" "$work/tree" >/dev/null
source_options() { grep -Ev '^(#|$|Database =)' "$1"; }
diff <(source_options "$work/tree/odbc.ini") <(source_options "$root/etc/quillspeak/odbc.ini") ||
    fail "the packaged odbc.ini differs from what scripts/init-db writes"
grep -qx 'Database = /var/lib/quillspeak/quillspeak.db' "$root/etc/quillspeak/odbc.ini" ||
    fail "odbc.ini names another database"

# The programs run, and the data source, read as the service reads it, opens a database made
# from the packaged schema.
for program in qsserver qsclient qsprobe qsadmin; do
    said=$("$root/usr/bin/$program" --version)
    [[ "$said" == "$program "* && "$said" == *" $version" ]] || fail "$program --version from the package said: $said"
done
mkdir "$work/service"
sqlite3 -batch "$work/service/quillspeak.db" <"$root/usr/share/quillspeak/sqlite.sql" >/dev/null
sed "s|^Database = .*|Database = $work/service/quillspeak.db|" "$root/etc/quillspeak/odbc.ini" >"$work/service/odbc.ini"
ln -s "$(realpath -m "/etc/quillspeak/$(readlink "$root/etc/quillspeak/odbcinst.ini")")" "$work/service/odbcinst.ini"
(cd "$work/service" && env -u ODBCINI HOME="$work/service" ODBCSYSINI="$work/service" "$root/usr/bin/qsprobe") </dev/null >"$work/probe.log" 2>&1 ||
    { cat "$work/probe.log"; fail "qsprobe cannot open the packaged data source"; }

# The packaged settings hold nothing the server refuses, and send the log to standard error.
grep -qx 'max_field_len=1048576' "$root/etc/quillspeak/qsserver.conf" || fail "qsserver.conf: no max_field_len=1048576"
cp "$root/etc/quillspeak/qsserver.conf" "$work/service/"
status=0
mkdir "$work/nothing"  # no data source: the start stops at the database
(cd "$work/service" && HOME="$work/nothing" ODBCINI="$work/nothing/odbc.ini" ODBCSYSINI="$work/nothing" \
    "$root/usr/bin/qsserver" --console >"$work/console" 2>"$work/stderr") ||
    status=$?
[ "$status" -eq 1 ] || fail "qsserver without a data source exited with $status"
! grep -q 'Setting ' "$work/console" || { cat "$work/console"; fail "qsserver refuses a packaged setting"; }
grep -q '^[0-9-]*T[0-9:.+-]* [a-z]* cannot use the database' "$work/stderr" ||
    { cat "$work/stderr"; fail "the log does not go to standard error"; }
[ ! -e "$work/service/qsserver.log" ] || fail "the server wrote qsserver.log"

# lintian: clean, or each tag overridden with its reason in dist/debian/lintian-overrides.
lintian --fail-on error,warning --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 ||
    { cat "$work/lintian.log"; fail "lintian found faults"; }
echo "package ok: $(basename "$deb")"
