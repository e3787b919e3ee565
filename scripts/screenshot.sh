#!/usr/bin/env bash
# Takes a real screenshot of Tarnel's main window under a virtual X server.
# Usage: scripts/screenshot.sh FILE.png
set -euo pipefail
out=$(realpath -m "${1:?usage: scripts/screenshot.sh FILE.png}")
cd "$(dirname "$0")/.."

scripts/deps.sh xvfb xauth x11-utils imagemagick
dir=$(scripts/build.sh plain | tail -n 1)

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1024x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display QT_QPA_PLATFORM=xcb
timeout 20 bash -c 'until xdpyinfo >/dev/null 2>&1; do sleep 0.1; done'

"$dir/tarnel" --settings "$work/tarnel.ini" >/dev/null 2>&1 &
pids+=($!)

# Wait until the main window is mapped, then give it a moment to paint.
title="M-bus/modbus configuration Velgate"
timeout 20 bash -c "until xwininfo -name '   $title' 2>/dev/null | grep -q IsViewable; do sleep 0.2; done"
sleep 1
timeout 20 import -window "$(xwininfo -name "   $title" | awk '/Window id:/ {print $4}')" "$out"
echo "$out"
