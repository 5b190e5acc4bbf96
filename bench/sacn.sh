#!/usr/bin/env bash
# Recording a whole rig over sACN multicast. Inside a network namespace of
# its own, with multicast on its loopback (nothing leaves the machine),
# rampgen -E -a -c 100 -i 23 sends universes 1..256 to their groups (25,600
# datagrams in 2.3 s, each one a change) and framelog -E -U -u 1 ... -u 256,
# joined to the 256 groups, records them. framelog -U -a records the same
# frames over Art-Net in the same run; each is measured by its CPU per 1000
# datagrams. Linux, as root (ip netns).
# Usage: bench/sacn.sh [build-dir]
# Goals: every datagram received and every frame a row, 25,600 in order per
# universe, none dropped; framelog -E -U at most 1.25 times the CPU of
# framelog -U -a.
set -euo pipefail
build=${1:-build}
bin=$build/bin
[ -x "$bin/framelog" ] && [ -x "$bin/rampgen" ] || { echo "build the programs first (make programs)" >&2; exit 1; }
[ -r /proc/self/schedstat ] || { echo "needs Linux's /proc/<pid>/schedstat" >&2; exit 1; }
ns=dmxkit-bench-$$
ip netns add "$ns" 2>/dev/null || { echo "needs a network namespace of its own: run as root" >&2; exit 1; }
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    ip netns del "$ns"
    rm -rf "$work"
}
trap cleanup EXIT
in_ns() { ip netns exec "$ns" "$@"; }
in_ns ip link set lo up
in_ns ip link set lo multicast on
in_ns ip route add 224.0.0.0/4 dev lo

cpu_ns() { awk '{print $1}' "/proc/$1/schedstat"; }
datagrams=25600
universes=()
for u in $(seq 1 256); do universes+=(-u "$u"); done

# start <name> <command...>: the recorder in the namespace, its pid in `pid`.
start() {
    local name=$1
    shift
    ip netns exec "$ns" "$@" 2>"$work/$name.err" & # ip execs the program: one pid
    pid=$!
    pids+=("$pid")
    sleep 0.5
}

# stop <name>: ends recorder `pid` and prints its packets received.
stop() {
    kill -INT "$pid"
    wait "$pid" || true
    sed -n 's/^Packets received: \([0-9]*\).*/\1/p' "$work/$1.err"
}

sender=("$bin/rampgen" -E -a -c 100 -i 23)

# record <name> <sender...>: CPU of recorder `pid` per 1000 datagrams of one run.
record() {
    local name=$1 c0 c1 received
    shift
    c0=$(cpu_ns "$pid")
    in_ns "$@" >/dev/null 2>&1
    sleep 0.3
    c1=$(cpu_ns "$pid")
    received=$(stop "$name")
    awk -v name="$name" -v c=$((c1 - c0)) -v n="$datagrams" -v got="$received" \
        'BEGIN {printf "  %-22s %6.1f ms CPU per 1000 datagrams (%d packets taken)\n", name, c / 1e6 / n * 1000, got}'
    echo "$name $((c1 - c0))" >>"$work/cpu"
}

echo "Recording 256 universes, 100 frames each, every 23 ms (25,600 datagrams in 2.3 s):"
start "framelog -U -a" "$bin/framelog" -U -a -f "$work/artnet.csv" -p 16454
record "framelog -U -a" "$bin/rampgen" -a -c 100 -i 23 -t 127.0.0.1 -p 16454
start "framelog -E -U" "$bin/framelog" -E -U "${universes[@]}" -f "$work/sacn.csv"
record "framelog -E -U" "${sender[@]}"
python3 - "$work/sacn.csv" "$work/framelog -E -U.err" "$work/cpu" <<'PY'
import sys
rows = [l.rstrip("\n").split(",") for l in open(sys.argv[1]) if l[:1].isdigit()]
# A source that ends its streams leaves each universe's merge without
# channels: a row without levels after its frames.
frames = [f for f in rows if len(f) > 2]
per = {}
ordered = all(len(f) == 2 for f in rows[len(frames):])
for f in frames:
    u, first = int(f[1]), int(f[2])
    if u in per and (per[u][0] + 1) % 256 != first:
        ordered = False
    per[u] = (first, per.get(u, (0, 0))[1] + 1)
lost = "Datagrams lost" in open(sys.argv[2]).read()
cpu = dict(l.rsplit(" ", 1) for l in open(sys.argv[3]).read().splitlines())
ratio = int(cpu["framelog -E -U"]) / int(cpu["framelog -U -a"])
whole = ordered and len(per) == 256 and all(n == 100 for _, n in per.values())
print(f"  sACN rows {len(frames)} of 25600, {len(per)} universes, 100 each in order: {'yes' if whole else 'NO'}; "
      f"then {len(rows) - len(frames)} rows of ended streams; kernel drops: {'YES' if lost else 'none'}")
print(f"  framelog -E -U / framelog -U -a CPU: {ratio:.2f} (goal at most 1.25)")
PY
