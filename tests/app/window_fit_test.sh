#!/usr/bin/env bash
# The main window at first start under a real window manager (openbox) on a
# 1366x768 screen: the frame, title bar and status bar included, lies inside
# the screen. Offscreen runs have no frame, so they cannot see this.
# Usage: window_fit_test.sh TARNEL
set -euo pipefail
bin=$1
for tool in Xvfb openbox xwininfo xprop; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Waits up to 30 s for a condition; says which one when it does not come.
wait_for() {
  timeout 30 bash -c "until $2; do sleep 0.1; done" || { echo "FAIL: no $1 in 30 s"; exit 1; }
}

# Xvfb picks a free display itself and writes its number when it is ready.
Xvfb -displayfd 3 -screen 0 1366x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
wait_for "X server" "[ -s '$work/display' ]"
export DISPLAY=":$(head -n 1 "$work/display")" QT_QPA_PLATFORM=xcb
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
wait_for "window manager" 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"'

HOME=$work XDG_CONFIG_HOME=$work "$bin" --settings "$work/tarnel.ini" >/dev/null 2>&1 &
pids+=($!)
title="   M-bus/modbus configuration Velgate"
wait_for "main window" "xwininfo -name '$title' 2>/dev/null | grep -q IsViewable"

# The frame: the window's own rectangle grown by the extents the window
# manager put on it. The window fits itself once it is framed: wait for that.
frame() {
  local info extents
  info=$(xwininfo -name "$title")
  extents=$(xprop -name "$title" _NET_FRAME_EXTENTS | sed -n 's/.*= //p' | tr -d ' ')
  [ -n "$extents" ] || return 1
  IFS=, read -r l r t b <<<"$extents"
  x=$(awk '/Absolute upper-left X/ {print $4}' <<<"$info")
  y=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$info")
  w=$(awk '/Width:/ {print $2}' <<<"$info")
  h=$(awk '/Height:/ {print $2}' <<<"$info")
  left=$((x - l)) top=$((y - t)) right=$((x + w + r)) bottom=$((y + h + b))
}
inside() { frame && [ "$left" -ge 0 ] && [ "$top" -ge 0 ] && [ "$right" -le 1366 ] && [ "$bottom" -le 768 ]; }
for _ in $(seq 100); do
  inside && { echo "PASS: frame $left,$top to $right,$bottom"; exit 0; }
  sleep 0.05
done
frame || true
echo "FAIL: the frame ${left:-?},${top:-?} to ${right:-?},${bottom:-?} is not inside 1366x768"
exit 1
