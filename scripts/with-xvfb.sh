#!/usr/bin/env bash
# Runs a command with a private Xvfb server (and a window manager) as $DISPLAY, then stops it.
# Usage: scripts/with-xvfb.sh command [arguments...]
set -euo pipefail

display=""
for n in $(seq 90 140); do
  if [ ! -e "/tmp/.X${n}-lock" ] && [ ! -e "/tmp/.X11-unix/X${n}" ]; then
    display=":$n"
    break
  fi
done
[ -n "$display" ] || { echo "with-xvfb: no free display number" >&2; exit 1; }

Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
helpers=()
cleanup() {
  for p in "${helpers[@]}"; do kill "$p" 2>/dev/null || true; done
  kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

export DISPLAY="$display"
for _ in $(seq 1 100); do
  xdpyinfo >/dev/null 2>&1 && break
  sleep 0.05
done
xdpyinfo >/dev/null 2>&1 || { echo "with-xvfb: Xvfb did not start" >&2; exit 1; }

if command -v openbox >/dev/null 2>&1; then
  openbox >/dev/null 2>&1 &
  helpers+=($!)
  # Windows mapped before the window manager is up lose the focus when it takes over.
  for _ in $(seq 1 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.05
  done
fi

status=0
"$@" || status=$?
exit $status
