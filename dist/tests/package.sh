#!/usr/bin/env bash
# The Debian package of a built tree: what it holds, and that its programs run from it.
#   dist/tests/package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/out/*.deb)
dpkg-deb --contents "$deb" >"$work/contents"
for path in usr/bin/qsserver usr/bin/qsclient usr/bin/qsprobe usr/bin/qsadmin usr/lib/libkel.so usr/lib/libfault.so \
    usr/include/qs/net/kel.h usr/include/qs/net/kelclient.h usr/include/qs/fault/exception.h \
    usr/share/quillspeak/sqlite.sql usr/share/quillspeak/postgresql.sql usr/share/quillspeak/qsserver.conf \
    usr/share/quillspeak/quillspeak.logrotate \
    usr/share/man/man8/qsserver.8 usr/share/man/man1/qsclient.1 usr/share/man/man8/qsprobe.8 \
    usr/share/man/man8/qsadmin.8 usr/share/quillspeak/web/index.html usr/share/quillspeak/web/js/app.js; do
    grep -q " \./$path\$" "$work/contents" || { echo "missing from the package: $path"; cat "$work/contents"; exit 1; }
done
dpkg-deb --field "$deb" Depends | grep -q unixodbc || { echo "no dependency on unixodbc"; exit 1; }
dpkg -x "$deb" "$work/root"
version=$("$work/root/usr/bin/qsserver" --version)
[ "$version" = "qsserver 0.1" ] || { echo "qsserver --version from the package said: $version"; exit 1; }
echo "package ok: $(basename "$deb")"
