#!/usr/bin/env bash
# Times build/tarnel-cli against build/tarnel-sim over loopback TCP: primary
# scans of 0..250 and the status sequence with fast replies on and off, the
# start-up time to the first request, and peak memory. Needs only bash,
# coreutils, grep and python3 (GNU time is not assumed). About 6 minutes.
# Usage: bench/cli_bench.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
CLI=$BUILD/tarnel-cli
# Fast replies off: every reply waits its whole time.
FULL_WAITS=--full-waits
SIM=$BUILD/tarnel-sim
[[ -x $CLI && -x $SIM ]] || { echo "build $CLI and $SIM first" >&2; exit 2; }

TMP=$(mktemp -d)
SIM_PID=
cleanup() {
    [[ -n $SIM_PID ]] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
    rm -rf "$TMP"
}
trap cleanup EXIT

# Runs a command with stdout to $1 and stderr to $1.log; prints
# "wall_s maxrss_kB cpu_s exit". wait4() gives the child's own rusage, so
# peak memory needs neither GNU time nor polling /proc.
measure() {
    python3 - "$@" <<'EOF'
import os, subprocess, sys, time
out, cmd = sys.argv[1], sys.argv[2:]
with open(out, "wb") as o, open(out + ".log", "wb") as e:
    t0 = time.monotonic()
    p = subprocess.Popen(cmd, stdout=o, stderr=e)
    _, st, ru = os.wait4(p.pid, 0)
    wall = time.monotonic() - t0
print(f"{wall:.3f} {ru.ru_maxrss} {ru.ru_utime + ru.ru_stime:.2f} "
      f"{os.waitstatus_to_exitcode(st)}")
EOF
}

median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

# A fresh simulator (default demo meters) on a free port.
"$SIM" --tcp 0 >"$TMP/sim.out" 2>"$TMP/sim.err" &
SIM_PID=$!
for _ in $(seq 100); do
    grep -q '^tcp ' "$TMP/sim.out" && break
    sleep 0.1
done
ADDR=$(sed -n 's/^tcp //p' "$TMP/sim.out")
[[ -n $ADDR ]] || { echo "tarnel-sim did not start" >&2; cat "$TMP/sim.err" >&2; exit 1; }
LINK=(--tcp "$ADDR")
echo "tarnel-cli against tarnel-sim at $ADDR ($(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg))"

# 1. Scans at 300 ms, Retry 0. A found meter is a CSV row whose first field
#    is an 8-digit ID (the header and the blank last row are not counted).
SCAN_RSS=
for mode in fast full; do
    extra=(); [[ $mode == full ]] && extra=("$FULL_WAITS")
    read -r wall rss cpu rc < <(measure "$TMP/scan_$mode.csv" "$CLI" scan 0 250 \
        "${LINK[@]}" --scan-time 300 --retry 0 "${extra[@]}")
    found=$(grep -cE '^ *[0-9A-Fa-f]{8} *;' "$TMP/scan_$mode.csv" || true)
    [[ $mode == fast ]] && SCAN_RSS=$rss
    label=$([[ $mode == fast ]] && echo "fast replies" || echo "fast replies off")
    printf 'scan 0 250 (300 ms, Retry 0), %-13s: %8.2f s wall, %3d meters found, CPU %.2f s, exit %d\n' \
        "$label" "$wall" "$found" "$cpu" "$rc"
done

# 2. Status: median of 3 with fast replies, one run with them off.
STATUS_RSS=0
walls=()
for i in 1 2 3; do
    read -r wall rss cpu rc < <(measure "$TMP/status_$i.txt" "$CLI" status "${LINK[@]}")
    walls+=("$wall")
    (( rss > STATUS_RSS )) && STATUS_RSS=$rss
    (( rc == 0 )) || echo "status run $i: exit $rc" >&2
done
med=$(printf '%s\n' "${walls[@]}" | median)
printf 'status, fast replies : %8.3f s wall (median of 3: %s)\n' "$med" "${walls[*]}"
read -r wall rss cpu rc < <(measure "$TMP/status_full.txt" "$CLI" status "${LINK[@]}" "$FULL_WAITS")
printf 'status, fast replies off: %8.3f s wall, exit %d\n' "$wall" "$rc"

# 3. Start-up: a listener that never answers; the time from just before the
#    process is spawned to the first request byte arriving, then the cli is
#    killed. The connect time is shown alongside.
python3 - "$CLI" <<'EOF'
import socket, statistics, subprocess, sys, time
first, conn = [], []
for _ in range(5):
    s = socket.socket()
    s.bind(("127.0.0.1", 0)); s.listen(1); s.settimeout(10)
    port = s.getsockname()[1]
    t0 = time.monotonic()
    p = subprocess.Popen([sys.argv[1], "status", "--tcp", f"127.0.0.1:{port}"],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    c, _ = s.accept()
    conn.append(time.monotonic() - t0)
    c.settimeout(10)
    c.recv(1)
    first.append(time.monotonic() - t0)
    p.kill(); p.wait(); c.close(); s.close()
ms = lambda v: " ".join(f"{x * 1000:.1f}" for x in v)
print(f"status start-up to first request: {statistics.median(first) * 1000:8.1f} ms"
      f" median of 5 ({ms(first)}); connected at {statistics.median(conn) * 1000:.1f} ms")
EOF

# 4. Peak memory (max RSS, from the runs above).
printf 'peak memory (max RSS): status %d kB (largest of 3), fast scan 0 250 %d kB\n' \
    "$STATUS_RSS" "$SCAN_RSS"
