#!/usr/bin/env python3
"""dmxscope under a full network: all 256 universes at 44 frames a second
(rampgen -a -c 100 -i 23, 25,600 datagrams) on loopback, with the monitor in a
pseudo-terminal whose reader takes everything at once. Prints the kernel's
drops on the monitor's socket, the title's final count against the datagrams
sent, how long after the last datagram the final screen came out, and the
screens and bytes written per second. Linux only (it reads /proc/net/udp).

Usage: bench/monitor_load.py [build-dir] [columns rows]
Goals: 0 drops, the exact count, the final screen within 50 ms, about 60
screens a second at most.
"""
import fcntl
import os
import re
import select
import signal
import socket
import struct
import subprocess
import sys
import termios
import threading
import time

build = sys.argv[1] if len(sys.argv) > 1 else "build"
size = (int(sys.argv[3]), int(sys.argv[2])) if len(sys.argv) > 3 else (0, 0)
bin_dir = os.path.join(build, "bin")
FRAMES, INTERVAL_MS, UNIVERSES = 100, 23, 256
CLEAR = b"\x1b[2J\x1b[H"


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def socket_drops(port):
    """The drops counted on the UDP sockets bound to `port`."""
    total = 0
    with open("/proc/net/udp") as table:
        for line in table.readlines()[1:]:
            fields = line.split()
            if int(fields[1].split(":")[1], 16) == port:
                total += int(fields[-1])
    return total


port = free_port()
master, slave = os.openpty()
fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", size[0], size[1], 0, 0))
monitor = subprocess.Popen([os.path.join(bin_dir, "dmxscope"), "-a", "-n", "-p", str(port)],
                           stdin=slave, stdout=slave, stderr=subprocess.DEVNULL, start_new_session=True)
os.close(slave)

chunks = []  # (time, bytes)
stop_reading = threading.Event()


def read_screen():
    while not stop_reading.is_set():
        ready, _, _ = select.select([master], [], [], 0.05)
        if ready:
            try:
                data = os.read(master, 1 << 20)
            except OSError:
                return
            if not data:
                return
            chunks.append((time.monotonic(), data))


reader = threading.Thread(target=read_screen)
reader.start()
deadline = time.monotonic() + 5
while b"Ctrl+C to exit\n\n" not in b"".join(c for _, c in chunks) and time.monotonic() < deadline:
    time.sleep(0.02)
time.sleep(1.2)  # the monitor's start-up pause

drops_before = socket_drops(port)
started = time.monotonic()
subprocess.run([os.path.join(bin_dir, "rampgen"), "-a", "-c", str(FRAMES), "-i", str(INTERVAL_MS),
                "-t", "127.0.0.1", "-p", str(port)], stderr=subprocess.DEVNULL, check=True)
# rampgen waits one interval after its last frame before it ends.
last_datagram = time.monotonic() - INTERVAL_MS / 1000
time.sleep(1.0)
drops = socket_drops(port) - drops_before
monitor.send_signal(signal.SIGINT)
monitor.wait(5)
stop_reading.set()
reader.join()

sent = FRAMES * UNIVERSES
output = b"".join(c for _, c in chunks)
counts = re.findall(rb"\(Packets: (\d+)\)", output)
final = int(counts[-1]) if counts else 0
final_at = None
for when, data in chunks:
    if b"(Packets: %d)" % final in data:
        final_at = when
        break
window = [(when, data) for when, data in chunks if started <= when <= last_datagram + 0.05]
seconds = max(last_datagram - started, 1e-3)
screens = sum(data.count(CLEAR) for _, data in window)
written = sum(len(data) for _, data in window)

print(f"dmxscope -a, {'unknown size' if size == (0, 0) else f'{size[1]}x{size[0]}'}, "
      f"{sent} datagrams in {seconds:.2f} s:")
print(f"  kernel drops          {drops}")
print(f"  title's final count   {final} of {sent} sent")
if final_at is not None:
    print(f"  final screen          {1000 * (final_at - last_datagram):.0f} ms after the last datagram")
print(f"  screens written       {screens / seconds:.0f} a second")
print(f"  bytes written         {written / seconds / 1e6:.2f} MB a second")
sys.exit(0 if drops == 0 and final == sent else 1)
