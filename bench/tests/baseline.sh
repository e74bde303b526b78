#!/usr/bin/env bash
# bench/run --baseline: a short dm against qsserver and against the bare baseline server;
# both deliver everything they acknowledged and the run reports their ratio.
#   baseline.sh QSBENCH QSSERVER BASELINE
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$(mktemp)
trap 'rm -f "$out"' EXIT

bash "$here/../run" --qsbench "$1" --server "$2" --baseline-server "$3" \
    dm:--count,400,--pairs,3,--window,16,--batch,4,--drain,20 loopback:--count,200 > "$out"

fail() {
    echo "baseline: $*" >&2
    cat "$out" >&2
    exit 1
}
[ "$(grep -c '^{"workload":"dm"' "$out")" = 2 ] || fail "not one dm line from each server"
line=$(grep '^{"workload":"dm".*"server":"baseline"' "$out") || fail "no dm line from the baseline"
for field in '"acknowledged":400,' '"delivered":400,' '"lost":0,' '"duplicated":0,' '"reordered":0,' \
    '"malformed":0,' '"server_threads":1,'; do
    [[ $line == *"$field"* ]] || fail "the baseline does not report $field"
done
ratio=$(grep '^{"bench_run":"baseline"' "$out" | jq -e '.ratio > 0') || fail "no ratio"
[ "$ratio" = true ] || fail "no ratio"
echo "baseline: dm ran against both servers"
