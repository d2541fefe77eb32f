# SPDX-License-Identifier: GPL-3.0-or-later
# Namespace helpers for the benchmarks: every name carries this run's process id, and
# lab_cleanup (installed as an EXIT trap by lab_init) removes everything again.

lab_init() {
    LAB_PREFIX="twk-$$-"
    LAB_HOSTS=()
    LAB_PIDS=()
    trap lab_cleanup EXIT INT TERM
}

lab_host() { # role -> creates namespace, prints its name
    local name="${LAB_PREFIX}$1"
    ip netns add "$name"
    ip -n "$name" link set lo up
    LAB_HOSTS+=("$name")
    echo "$name"
}

lab_link() { # hostA ifA hostB ifB
    ip -n "$1" link add "$2" type veth peer name "$4" netns "$3"
    ip -n "$1" link set "$2" up
    ip -n "$3" link set "$4" up
}

lab_bg() { # host command... ; remembers the pid
    ip netns exec "$@" &
    LAB_PIDS+=($!)
}

lab_cleanup() {
    local pid host
    for pid in "${LAB_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    sleep 0.3
    for pid in "${LAB_PIDS[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
    for host in "${LAB_HOSTS[@]}"; do ip netns del "$host" 2>/dev/null || true; done
    # lab_host usually runs in a command substitution, whose LAB_HOSTS the caller never
    # sees; the run's prefix finds those namespaces too.
    for host in $(ip netns list | awk -v p="$LAB_PREFIX" 'index($1, p) == 1 { print $1 }'); do
        ip netns del "$host" 2>/dev/null || true
    done
    LAB_HOSTS=()
    LAB_PIDS=()
}

# Turns off the offloads of a veth end, so that both paths carry MTU-sized frames.
lab_offloads_off() { # host if
    ip netns exec "$1" ethtool -K "$2" tso off gso off gro off tx off rx off >/dev/null 2>&1 || true
}
