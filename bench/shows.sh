#!/usr/bin/env bash
# Recording and playing a whole show. rampgen sends every universe with its
# stamp (-a -s -i 23 -c 100: 25,600 datagrams in 2.3 s, each one a change);
# framelog -U records it, framelog -a and a minimal poll-and-write loop
# record the same traffic in the same run, each measured by its CPU per 1000
# datagrams. Then showrun plays the show file to a capture on loopback, which
# checks every datagram and its order and times the first datagram of each
# frame against the file's timeline. Linux. Usage: bench/shows.sh [build-dir]
# Goals: every datagram a row, in order, none dropped; framelog -U at most
# 1.25 times framelog -a's CPU; in playback every datagram in row order, the
# first of each frame within 5 ms of its due time at the 99th percentile and
# 15 ms at worst, and the show's end within 5 ms of its length.
set -euo pipefail
build=${1:-build}
bin=$build/bin
here=$(dirname "$0")
[ -x "$bin/framelog" ] && [ -x "$bin/rampgen" ] && [ -x "$bin/showrun" ] \
    || { echo "build the programs first (make programs)" >&2; exit 1; }
[ -r /proc/self/schedstat ] || { echo "needs Linux's /proc/<pid>/schedstat" >&2; exit 1; }
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
"${CXX:-c++}" -std=c++20 -O2 -o "$work/minimal" "$here/minimal_recorder.cpp"
"${CXX:-c++}" -std=c++20 -O2 -o "$work/capture" "$here/capture.cpp"

free_port() { python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
cpu_ns() { awk '{print $1}' "/proc/$1/schedstat"; }
datagrams=25600

# record <name> <command...>: runs the recorder on a free port (PORT in the
# command stands for it) against one rampgen run and prints its CPU per 1000
# datagrams.
record() {
    local name=$1 port c0 c1 word
    shift
    port=$(free_port)
    local command=()
    for word in "$@"; do command+=("${word/#PORT/$port}"); done
    "${command[@]}" 2>"$work/$name.err" &
    local pid=$!
    pids+=("$pid")
    sleep 0.5
    c0=$(cpu_ns "$pid")
    "$bin/rampgen" -a -s -i 23 -c 100 -t 127.0.0.1 -p "$port" 2>/dev/null
    sleep 0.3
    c1=$(cpu_ns "$pid")
    kill -INT "$pid"
    wait "$pid" || true
    awk -v name="$name" -v c=$((c1 - c0)) -v n="$datagrams" \
        'BEGIN {printf "  %-22s %6.1f ms CPU per 1000 datagrams\n", name, c / 1e6 / n * 1000}'
    echo "$name $((c1 - c0))" >>"$work/cpu"
}

echo "Recording rampgen -a -s -i 23 -c 100 (25,600 datagrams in 2.3 s):"
record "framelog -U -a" "$bin/framelog" -U -a -f "$work/show.csv" -p PORT
record "framelog -a" "$bin/framelog" -a -f "$work/plain.csv" -p PORT
record "minimal poll loop" "$work/minimal" PORT "$work/minimal.csv"
python3 - "$work/show.csv" "$work/framelog -U -a.err" "$work/cpu" <<'PY'
import sys
rows = [l for l in open(sys.argv[1]) if l[:1].isdigit()]
per = {}
ordered = True
for l in rows:
    f = l.rstrip("\n").split(",")
    u, stamp = int(f[1]), int(f[2 + 510])
    if per.get(u, -1) + 1 != stamp:
        ordered = False
    per[u] = stamp
lost = "Datagrams lost" in open(sys.argv[2]).read()
cpu = dict(l.rsplit(" ", 1) for l in open(sys.argv[3]).read().splitlines())
ratio = int(cpu["framelog -U -a"]) / int(cpu["framelog -a"])
print(f"  rows {len(rows)} of 25600, {len(per)} universes, 100 each in order: "
      f"{'yes' if ordered and all(v == 99 for v in per.values()) and len(per) == 256 else 'NO'}; "
      f"kernel drops: {'YES' if lost else 'none'}")
print(f"  framelog -U / framelog -a CPU: {ratio:.2f} (goal at most 1.25)")
PY

echo "Playing the show file back with showrun to a capture on loopback:"
port=$(free_port)
"$work/capture" "$port" "$datagrams" "$work/arrivals.txt" &
capture=$!
pids+=("$capture")
sleep 0.3
"$bin/showrun" -f "$work/show.csv" -t 127.0.0.1 -p "$port" 2>"$work/showrun.err"
wait "$capture" || true
python3 - "$work/show.csv" "$work/arrivals.txt" <<'PY'
import sys
rows, due, total = [], [], 0
for l in open(sys.argv[1]):
    if not l[:1].isdigit():
        continue
    f = l.rstrip("\n").split(",")
    total += int(f[0])
    rows.append((int(f[1]), int(f[2 + 510])))
    due.append(total)
got = [l.split() for l in open(sys.argv[2])]
dmx = [(int(u), int(s), int(t)) for t, op, u, s in got if op == "5000"]
in_order = [(u, s) for u, s, _ in dmx] == rows
start = dmx[0][2]
late = []
seen = set()
for k, (u, s, t) in enumerate(dmx[: len(rows)]):
    if s not in seen:  # the first datagram of each frame
        seen.add(s)
        late.append(abs((t - start) / 1000 - due[k]))
late.sort()
p99 = late[int(len(late) * 0.99) - 1]
end = abs((dmx[-1][2] - start) / 1000 - total)
print(f"  datagrams {len(dmx)} of {len(rows)}, in row order: {'yes' if in_order else 'NO'}")
print(f"  first datagram of each frame: p99 {p99:.2f} ms, worst {late[-1]:.2f} ms from its due time (goals 5 and 15)")
print(f"  end of the show: {end:.2f} ms from its length of {total} ms (goal 5)")
PY
