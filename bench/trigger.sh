#!/usr/bin/env bash
# cuetrig's reaction time, from an ArtDmx datagram sent on loopback to the
# first act of the command that it starts, beside a minimal trigger (one
# socket, a blocking poll, fork + execv, a wait) measured in the same run:
# 30 triggers each, 150 ms apart, the two taking turns so that both meet the
# same load. Both run the same command, a static program whose first act is
# to read the monotonic clock, given by its full path (no PATH search).
# Linux. Usage: bench/trigger.sh [build-dir]
# Goal: cuetrig's p50 at most 1.10 times the minimal trigger's.
set -euo pipefail
build=${1:-build}
bin=$build/bin
here=$(dirname "$0")
[ -x "$bin/cuetrig" ] || { echo "build the programs first (make programs)" >&2; exit 1; }
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
cc=${CC:-cc}
"$cc" -O2 -static -o "$work/stamp" "$here/stamp.c" 2>/dev/null || "$cc" -O2 -o "$work/stamp" "$here/stamp.c"
"$cc" -O2 -o "$work/minimal" "$here/minimal_trigger.c"

free_port() { python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
minimal_port=$(free_port)
cuetrig_port=$(free_port)
while [ "$cuetrig_port" = "$minimal_port" ]; do cuetrig_port=$(free_port); done
"$work/minimal" "$minimal_port" 1 "$work/stamp" >"$work/minimal.out" 2>/dev/null &
pids+=($!)
"$bin/cuetrig" -p "$cuetrig_port" -u 0 -c 1 -t high -t low -- "$work/stamp" >"$work/cuetrig.out" 2>"$work/cuetrig.err" &
pids+=($!)
for _ in $(seq 50); do grep -q 'Press Ctrl+C' "$work/cuetrig.err" && break; sleep 0.1; done
sleep 0.2

python3 - "$minimal_port" "$work/minimal.out" "$cuetrig_port" "$work/cuetrig.out" <<'PY'
import socket, struct, sys, time

TRIGGERS, APART_NS = 30, 150_000_000
targets = [(int(sys.argv[1]), sys.argv[2], "minimal trigger"), (int(sys.argv[3]), sys.argv[4], "cuetrig")]

def artdmx(level):
    """Universe 0, channel 1 at `level`, an even length of 2."""
    return b"Art-Net\0" + struct.pack("<HBBBBH", 0x5000, 0, 14, 0, 0, 0) + struct.pack(">H", 2) + bytes([level, 0])

sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sent = {port: [] for port, _, _ in targets}
start = time.monotonic_ns()
# The first datagram only records the level; each after it crosses.
for step in range(TRIGGERS + 1):
    for turn, (port, _, _) in enumerate(targets):
        due = start + step * APART_NS + turn * APART_NS // 2
        while time.monotonic_ns() < due:
            time.sleep(max(0, due - time.monotonic_ns()) / 1e9)
        level = 255 if step % 2 else 0
        at = time.monotonic_ns()
        sock.sendto(artdmx(level), ("127.0.0.1", port))
        if step > 0:
            sent[port].append(at)
time.sleep(0.5)

def percentile(sorted_ms, p):
    return sorted_ms[max(0, -(-len(sorted_ms) * p // 100) - 1)]

print(f"Reaction, datagram sent to the command's first act ({TRIGGERS} triggers each, 150 ms apart):")
floor = None
for port, stamps_file, name in targets:
    with open(stamps_file) as stamps:
        started = [int(line) for line in stamps if line.strip()]
    if len(started) != TRIGGERS:
        sys.exit(f"{name}: {len(started)} commands ran, not {TRIGGERS}")
    ms = sorted((s - t) / 1e6 for s, t in zip(started, sent[port]))
    p50, p90 = percentile(ms, 50), percentile(ms, 90)
    ratio = "" if floor is None else f"   p50 {p50 / floor:.2f}x the minimal trigger"
    floor = floor or p50
    print(f"  {name:16} p50 {p50:5.2f} ms   p90 {p90:5.2f} ms{ratio}")
PY
