#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Router mode against kernel NAT in one run: TCP bulk throughput, UDP packets per second with
# 64-byte payloads and the round-trip time of small requests, each through Tarnwick's router
# (tarnwick-headless) and through iptables MASQUERADE in the same topology. Then the memory
# and per-packet look-up time of the translation tables with 1,000 and 65,536 mappings.
# Prints a table and, last, "RESULT tcp_ratio=R udp_pps_ratio=R rtt_ratio=R" (Tarnwick over
# kernel; for rtt kernel over Tarnwick, so higher is better everywhere). The two paths take
# turns for BENCH_ROUNDS rounds (default 2) of BENCH_SECONDS (default 5) per measurement.
#
# Topology: client eth0 — lan0 [hotspot] pub0 — eth0 [internet], offloads off. The client
# has the static pool address 192.168.51.20 behind the gateway 192.168.51.1; the internet
# host is the upstream gateway 198.51.100.1 and holds the server address 203.0.113.10.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$top/build}
headless="$build/app/tarnwick-headless"
natbench="$build/bench/nat/tarnwick_natbench"
for binary in "$headless" "$natbench"; do
    [ -x "$binary" ] || { echo "build the project first (missing $binary)" >&2; exit 1; }
done
[ "$(id -u)" -eq 0 ] || { echo "the benchmark needs root (network namespaces)" >&2; exit 1; }
seconds=${BENCH_SECONDS:-5}
server=203.0.113.10
source "$top/bench/lab.sh"
lab_init

work=$(mktemp -d)
bench_cleanup() {
    lab_cleanup
    rm -rf "$work" "/etc/netns/${hotspot:-none}"
}
trap bench_cleanup EXIT INT TERM

client=$(lab_host client); hotspot=$(lab_host hotspot); internet=$(lab_host internet)
lab_link "$client" eth0 "$hotspot" lan0
lab_link "$hotspot" pub0 "$internet" eth0
ip -n "$client" addr add 192.168.51.20/24 dev eth0
ip -n "$client" route add default via 192.168.51.1
ip -n "$hotspot" addr add 198.51.100.2/24 dev pub0
ip -n "$hotspot" route add default via 198.51.100.1
ip -n "$internet" addr add 198.51.100.1/24 dev eth0
ip -n "$internet" addr add "$server/32" dev lo
mkdir -p "/etc/netns/$hotspot"
echo "nameserver 198.51.100.1" > "/etc/netns/$hotspot/resolv.conf"
for pair in "$client eth0" "$hotspot lan0" "$hotspot pub0" "$internet eth0"; do lab_offloads_off $pair; done
lab_bg "$internet" iperf3 -s -B "$server" -p 5201 >/dev/null 2>&1
sleep 0.5

tcp_mbits() {
    ip netns exec "$client" iperf3 -c "$server" -p 5201 -t "$seconds" -f m \
        | awk '/receiver/ { for (i = 1; i < NF; i++) if ($(i + 1) == "Mbits/sec") v = $i } END { print v }'
}

# Datagrams the server received per second of sending, the sender going as fast as it can.
udp_pps() {
    ip netns exec "$client" iperf3 -c "$server" -p 5201 -u -l 64 -b 0 -t "$seconds" \
        | awk -v t="$seconds" '/receiver/ { for (i = 1; i <= NF; i++) if ($i ~ /^[0-9]+\/[0-9]+$/) {
              split($i, n, "/"); v = (n[2] - n[1]) / t } } END { printf "%.0f", v }'
}

# Mean of 200 echo round trips, in microseconds.
rtt_us() {
    ip netns exec "$client" ping -n -q -c 200 -i 0.01 -W 1 "$server" \
        | awk -F'/' '/^rtt/ { printf "%.1f", $5 * 1000 }'
}

measure() { # label -> "tcp pps rtt"
    local tcp pps rtt
    tcp=$(tcp_mbits); pps=$(udp_pps); rtt=$(rtt_us)
    [ -n "$tcp" ] && [ -n "$pps" ] && [ -n "$rtt" ] || { echo "measurement failed ($1)" >&2; exit 1; }
    echo "$tcp $pps $rtt"
}

# Kernel NAT: the gateway address on lan0, forwarding and masquerading on pub0.
kernel_on() {
    ip -n "$hotspot" addr add 192.168.51.1/24 dev lan0
    ip netns exec "$hotspot" sysctl -qw net.ipv4.ip_forward=1
    ip netns exec "$hotspot" iptables -t nat -A POSTROUTING -o pub0 -j MASQUERADE
}
kernel_off() {
    ip netns exec "$hotspot" iptables -t nat -F POSTROUTING
    ip netns exec "$hotspot" sysctl -qw net.ipv4.ip_forward=0
    ip -n "$hotspot" addr del 192.168.51.1/24 dev lan0
}

# Tarnwick: the runner with lan0 private and pub0 public, router mode and its defaults.
mkdir -p "$work/config/Orrinsby"
printf '[options]\npublicNetworkInterfaceName=pub0\nprivateNetworkInterfaceName=lan0\n' \
    > "$work/config/Orrinsby/Tarnwick.conf"
tarnwick_on() {
    ip netns exec "$hotspot" env XDG_CONFIG_HOME="$work/config" "$headless" > "$work/runner.log" 2>&1 &
    runner=$!
    LAB_PIDS+=($runner)
    for _ in $(seq 150); do grep -q "state Started" "$work/runner.log" && break; sleep 0.2; done
    if ! grep -q "state Started" "$work/runner.log"; then
        echo "tarnwick-headless did not start:" >&2; cat "$work/runner.log" >&2; exit 1
    fi
}
tarnwick_off() {
    kill -TERM "$runner"; wait "$runner" 2>/dev/null || true
}

# The two paths take turns, so that a slow spell of the shared machine falls on both; the
# ratios are those of the sums over all rounds.
plus() { # "a b c" "x y z" -> "a+x b+y c+z"
    awk -v p="$1" -v q="$2" 'BEGIN { split(p, a); split(q, b); print a[1] + b[1], a[2] + b[2], a[3] + b[3] }'
}
rounds=${BENCH_ROUNDS:-2}
declare -A label=([kernel]="kernel NAT (iptables MASQUERADE)" [tarnwick]="Tarnwick router mode")
declare -A total=([kernel]="0 0 0" [tarnwick]="0 0 0")
rows=()
for round in $(seq "$rounds"); do
    for path in kernel tarnwick; do
        "${path}_on"
        read -r tcp pps rtt < <(measure "$path")
        [ -n "$rtt" ] || exit 1
        "${path}_off"
        rows+=("${label[$path]}|$round|$tcp|$pps|$rtt")
        total[$path]=$(plus "${total[$path]}" "$tcp $pps $rtt")
    done
done
read -r k_tcp k_pps k_rtt <<< "${total[kernel]}"
read -r t_tcp t_pps t_rtt <<< "${total[tarnwick]}"

printf '%-34s %6s %12s %14s %10s\n' "path" "round" "TCP Mbit/s" "UDP64 pkt/s" "RTT us"
for row in "${rows[@]}"; do
    IFS='|' read -r name round tcp pps rtt <<< "$row"
    printf '%-34s %6s %12s %14s %10s\n' "$name" "$round" "$tcp" "$pps" "$rtt"
done
echo
echo "translation tables (tarnwick_natbench):"
"$natbench"
echo
awk -v kt="$k_tcp" -v tt="$t_tcp" -v kp="$k_pps" -v tp="$t_pps" -v kr="$k_rtt" -v tr="$t_rtt" \
    'BEGIN { printf "RESULT tcp_ratio=%.3f udp_pps_ratio=%.3f rtt_ratio=%.3f\n", tt / kt, tp / kp, kr / tr }'
