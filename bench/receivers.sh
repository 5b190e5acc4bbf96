#!/usr/bin/env bash
# An idle receiver's wake-ups and CPU over 5 s, and a recorder's CPU per 1000
# datagrams (one universe, 44 frames a second from rampgen, 10 s on
# loopback), each beside a minimal poll-and-write recorder measured in the
# same run. Linux only (it reads /proc). Usage: bench/receivers.sh [build-dir]
# Goals: at most 1 wake-up/s and 0.0 % CPU idle; at most 100 ms per 1000
# datagrams, within 10 % of the minimal loop.
set -euo pipefail
build=${1:-build}
bin=$build/bin
[ -x "$bin/framelog" ] && [ -x "$bin/rampgen" ] || { echo "build the programs first (make programs)" >&2; exit 1; }
[ -r /proc/self/schedstat ] || { echo "needs Linux's /proc/<pid>/schedstat" >&2; exit 1; }
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
"${CXX:-c++}" -std=c++20 -O2 -o "$work/minimal" "$(dirname "$0")/minimal_recorder.cpp"

free_port() { python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
cpu_ns() { awk '{print $1}' "/proc/$1/schedstat"; }
wakeups() { awk '/^(non)?voluntary_ctxt_switches/ {n += $2} END {print n}' "/proc/$1/status"; }

# start <name> <command...>: runs it in the background, its pid in `pid`.
start() {
    local name=$1
    shift
    "$@" >/dev/null 2>"$work/$name.err" &
    pid=$!
    pids+=("$pid")
    sleep 0.5
}

# idle <name>: wake-ups per second and CPU share of process `pid` over 5 s.
idle() {
    local w0 c0 w1 c1
    w0=$(wakeups "$pid"); c0=$(cpu_ns "$pid")
    sleep 5
    w1=$(wakeups "$pid"); c1=$(cpu_ns "$pid")
    awk -v name="$1" -v w=$((w1 - w0)) -v c=$((c1 - c0)) \
        'BEGIN {printf "  %-22s %6.1f wake-ups/s   %5.2f %% CPU\n", name, w / 5, c / 5e9 * 100}'
}

# record <name>: CPU of process `pid` per 1000 datagrams of 10 s of rampgen.
record() {
    local port=$2 c0 c1 count
    c0=$(cpu_ns "$pid")
    "$bin/rampgen" -u 0 -i 23 -c 435 -t 127.0.0.1 -p "$port" 2>/dev/null
    sleep 0.2
    c1=$(cpu_ns "$pid")
    kill -INT "$pid"
    wait "$pid" || true
    count=$(sed -n 's/^Packets received: \([0-9]*\).*/\1/p' "$work/$1.err")
    awk -v name="$1" -v c=$((c1 - c0)) -v n="$count" \
        'BEGIN {printf "  %-22s %6.1f ms CPU per 1000 datagrams (%d datagrams)\n", name, c / 1e6 / n * 1000, n}'
}

echo "Idle, 5 s without traffic:"
port=$(free_port); start framelog "$bin/framelog" -f "$work/idle.csv" -p "$port"; idle "framelog"
kill -INT "$pid"
port=$(free_port); start minimal "$work/minimal" "$port" "$work/idle-min.csv"; idle "minimal poll loop"
kill -INT "$pid"

echo "Recording one universe at 44 frames a second, 10 s:"
port=$(free_port); start framelog "$bin/framelog" -f "$work/show.csv" -p "$port" -u 0; record framelog "$port"
port=$(free_port); start minimal "$work/minimal" "$port" "$work/show-min.csv"; record minimal "$port"
