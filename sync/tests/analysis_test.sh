#!/usr/bin/env bash
# analysis_test.sh CLANG INCLUDE_DIR CASES: compiles CASES with -Wthread-safety and checks
# that the lines warned about are exactly those marked "flagged".
set -euo pipefail
clang=$1 include=$2 cases=$3
name=$(basename "$cases")
expected=$(grep -n '// flagged' "$cases" | cut -d: -f1 | sort -n | tr '\n' ' ')
output=$("$clang" -std=c++20 -fsyntax-only -Wthread-safety -I"$include" "$cases" 2>&1 || true)
warned=$(sed -n "s/^.*$name:\([0-9]*\):[0-9]*: warning: .*/\1/p" <<<"$output" | sort -nu | tr '\n' ' ')
if [ "$expected" != "$warned" ]; then
    echo "$output"
    echo "expected warnings on lines: $expected"
    echo "warned on lines:            $warned"
    exit 1
fi
