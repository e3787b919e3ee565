#!/usr/bin/env python3
"""Measures the silence the tool keeps between Modbus RTU frames.

Sits between tarnel-cli and tarnel-sim on two pseudo-terminals, forwards
every byte and notes, for each request, the time from the last byte of the
reply before it to its first byte. Prints how many gaps were shorter than
3.5 characters of 19200 8E1 (2.005 ms) and their median.

Usage: bench/rtu_gaps.py BUILD_DIR [tarnel-cli arguments after --serial PTY]
       (default arguments: devices --timeout 600 -q)
"""
import os, pty, select, statistics, subprocess, sys, time, tty

build = sys.argv[1]
args = sys.argv[2:] or ["devices", "--timeout", "600", "-q"]
sim = subprocess.Popen([os.path.join(build, "tarnel-sim"), "--pty", "--scenario", "sim/scenario64.json"],
                       stdout=subprocess.PIPE, text=True)
sim_path = sim.stdout.readline().split()[1]
sim_fd = os.open(sim_path, os.O_RDWR | os.O_NOCTTY)
tty.setraw(sim_fd)
master, slave = pty.openpty()
tty.setraw(slave)
tool_path = os.ttyname(slave)
cli = subprocess.Popen([os.path.join(build, "tarnel-cli")] + args[:1] + ["--serial", tool_path] + args[1:],
                       stdout=subprocess.DEVNULL)
last_reply = None
in_request = False
gaps = []
while cli.poll() is None:
    ready, _, _ = select.select([master, sim_fd], [], [], 0.05)
    now = time.monotonic()
    for fd in ready:
        data = os.read(fd, 4096)
        if fd == master:  # the tool speaks
            if last_reply is not None and not in_request:
                gaps.append((now - last_reply) * 1000)
            in_request = True
            os.write(sim_fd, data)
        else:  # the gateway answers
            in_request = False
            os.write(master, data)
            last_reply = time.monotonic()
sim.terminate()
short = sum(1 for g in gaps if g < 2.005)
print(f"{len(gaps)} gaps, {short} under 3.5 characters (2.005 ms), median {statistics.median(gaps):.2f} ms, "
      f"shortest {min(gaps):.2f} ms")
