#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# TCP bulk throughput through a pass-through engine pair, against the same topology without
# interception, in one run. Prints a table and, last, "RESULT tcp_ratio=R".
#
# Topology: client — lan0 [middle, kernel forwarding] wan0 — server, offloads off.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$top/build}
probe="$build/tests/integration/engine/tarnwick_enginepairprobe"
[ -x "$probe" ] || { echo "build the project first (missing $probe)" >&2; exit 1; }
seconds=${BENCH_SECONDS:-5}
source "$top/bench/lab.sh"
lab_init

client=$(lab_host client); middle=$(lab_host middle); server=$(lab_host server)
lab_link "$client" eth0 "$middle" lan0
lab_link "$middle" wan0 "$server" eth0
ip -n "$client" addr add 192.168.51.10/24 dev eth0
ip -n "$middle" addr add 192.168.51.1/24 dev lan0
ip -n "$middle" addr add 198.51.100.1/24 dev wan0
ip -n "$server" addr add 198.51.100.2/24 dev eth0
ip -n "$client" route add default via 192.168.51.1
ip -n "$server" route add default via 198.51.100.1
ip netns exec "$middle" sysctl -qw net.ipv4.ip_forward=1
for pair in "$client eth0" "$middle lan0" "$middle wan0" "$server eth0"; do lab_offloads_off $pair; done
lab_bg "$server" iperf3 -s -p 5201 >/dev/null 2>&1
sleep 0.5

run_iperf() { # -> Mbit/s
    ip netns exec "$client" iperf3 -c 198.51.100.2 -p 5201 -t "$seconds" -f m \
        | awk '/receiver/ { for (i = 1; i < NF; i++) if ($(i + 1) == "Mbits/sec") v = $i } END { print v }'
}

kernel=$(run_iperf)
ip netns exec "$middle" "$probe" wan0 lan0 > /tmp/twk-bench-$$.log 2>&1 &
probe_pid=$!
LAB_PIDS+=($probe_pid)
for _ in $(seq 50); do grep -q started /tmp/twk-bench-$$.log && break; sleep 0.1; done
sleep 0.3
engine=$(run_iperf)
kill "$probe_pid"; wait "$probe_pid" 2>/dev/null || true
rm -f /tmp/twk-bench-$$.log

ratio=$(awk -v e="$engine" -v k="$kernel" 'BEGIN { printf "%.3f", e / k }')
printf '%-40s %12s\n' "path" "TCP Mbit/s"
printf '%-40s %12s\n' "kernel forwarding, no interception" "$kernel"
printf '%-40s %12s\n' "pass-through engine pair" "$engine"
echo "RESULT tcp_ratio=$ratio"
