#!/usr/bin/env bash
# qsbench against a real qsserver on a fresh database: each workload runs with small
# counts (dm and latency also over TLS and over the WebSocket, and with the receivers
# given the server's own port as theirs), succeeds, and reports nothing lost or
# duplicated.
#   smoke.sh QSBENCH QSSERVER
set -euo pipefail
bench=$1
server=$2
here=$(cd "$(dirname "$0")" && pwd)
out=$(mktemp)
trap 'rm -f "$out"' EXIT

bash "$here/../run" --qsbench "$bench" --server "$server" \
    login:--count,40,--drain,20,--with-ver \
    offline:--count,300,--receivers,7,--drain,20 \
    dm:--count,400,--pairs,3,--window,16,--batch,4,--drain,20 \
    latency:--count,30,--drain,20 \
    dm:--tls,--count,400,--pairs,3,--window,16,--batch,4,--drain,20 \
    latency:--tls,--count,30,--drain,20 \
    dm:--ws,--count,400,--pairs,3,--window,16,--batch,4,--drain,20 \
    latency:--ws,--tls,--count,30,--drain,20 \
    dm:--receiver-port,@port,--count,400,--pairs,3,--window,16,--batch,4,--drain,20 \
    latency:--ws,--receiver-port,@port,--count,30,--drain,20 \
    idle:--clients,20,--drain,20 \
    loopback:--count,2000 > "$out"

fail() {
    echo "smoke: $*" >&2
    cat "$out" >&2
    exit 1
}
for w in login offline dm latency idle loopback; do
    [ "$(grep -c "^{\"workload\":\"$w\"" "$out")" = "$(case $w in dm|latency) echo 4 ;; *) echo 1 ;; esac)" ] ||
        fail "not one line from $w (four from dm and latency: TCP, TLS, WebSocket, receivers by --receiver-port)"
done
grep '"workload":"login"' "$out" | grep -q '"logins":40,"failures":0,' || fail "login did not log in 40 times"
grep '"workload":"login"' "$out" | grep -q '"ver_cycles":40,"ver_failures":0,' || fail "login did not run 40 ver loops"
grep '"workload":"login"' "$out" | grep -q '"login_to_ver":[0-9]' || fail "login gave no ratio to ver"
grep '"workload":"idle"' "$out" | grep -q '"parked":20,' || fail "idle did not park 20 clients"
grep '"workload":"idle"' "$out" | grep -q '"rss_per_added_client_kb":[0-9]' || fail "idle gave no figure for its second half"
declare -A sent=([offline]=300 [dm]=400 [latency]=30)
# A run name with "+" had its receivers on --receiver-port: the same port as the senders.
for run in offline:tcp dm:tcp latency:tcp dm:tls latency:tls dm:ws latency:wss dm:tcp+ latency:ws+; do
    w=${run%%:*}
    transport=${run#*:}
    lines=$(grep "\"workload\":\"$w\".*\"transport\":\"${transport%+}\"" "$out") || fail "no line from $run"
    if [[ $run == *+ ]]; then
        line=$(grep -E '"port":([0-9]+),"receiver_host":"127.0.0.1","receiver_port":\1,' <<< "$lines") ||
            fail "$run does not name the receivers' port"
    else
        line=$(grep -v '"receiver_port"' <<< "$lines") || fail "no line from $run"
    fi
    n=${sent[$w]}
    for field in "\"acknowledged\":$n," "\"delivered\":$n," '"lost":0,' '"duplicated":0,' '"unknown_delivered":0,'; do
        [[ $line == *"$field"* ]] || fail "$run does not report $field"
    done
    [[ $line == *'"server_cpu_s":null'* ]] && fail "$run did not read the server's CPU time"
done
echo "smoke: every workload ran; nothing lost or duplicated"
