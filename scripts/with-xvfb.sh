#!/usr/bin/env bash
# Runs a command with a private Xvfb server (and a window manager) as $DISPLAY, then stops it.
# Usage: scripts/with-xvfb.sh command [arguments...]
#
# Other X servers may run on the machine, some of them invisible from here (another mount
# namespace, a container sharing the network). So Xvfb picks a free display number itself
# (-displayfd), admits only clients that hold a cookie of ours, and we check that the server
# answering on that number is the one we started before anything runs against it.
set -euo pipefail

workdir=$(mktemp -d)
xvfb_pid=""
helpers=()
cleanup() {
  for p in "${helpers[@]}"; do kill "$p" 2>/dev/null || true; done
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$workdir"
}
trap cleanup EXIT

fail() {
  echo "with-xvfb: $*" >&2
  exit 1
}

cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
# The server loads every cookie of its -auth file whatever display the entry names.
: >"$workdir/server.auth"
xauth -q -f "$workdir/server.auth" add :0 . "$cookie"
export XAUTHORITY="$workdir/client.auth"
: >"$XAUTHORITY"

mkfifo "$workdir/displayfd"
Xvfb -displayfd 3 -auth "$workdir/server.auth" -noreset -screen 0 1280x800x24 -nolisten tcp \
  3>"$workdir/displayfd" >"$workdir/xvfb.log" 2>&1 &
xvfb_pid=$!
# Xvfb writes the number once it accepts connections, or closes the pipe when it gives up.
number=""
read -r number <"$workdir/displayfd" || true
[[ $number =~ ^[0-9]+$ ]] || fail "Xvfb did not start: $(tail -n 3 "$workdir/xvfb.log")"
export DISPLAY=":$number"
xauth -q add "$DISPLAY" . "$cookie"

xdpyinfo >/dev/null 2>&1 || fail "the server on $DISPLAY does not accept our cookie"
if XAUTHORITY=/dev/null xdpyinfo >/dev/null 2>&1; then
  fail "the server on $DISPLAY admits clients without our cookie: it is not the one we started"
fi

if command -v openbox >/dev/null 2>&1; then
  openbox >"$workdir/openbox.log" 2>&1 &
  wm_pid=$!
  helpers+=("$wm_pid")
  # Windows mapped before the window manager is up lose the focus when it takes over. A loaded
  # machine may take a while: wait for as long as openbox lives.
  until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
    kill -0 "$wm_pid" 2>/dev/null || fail "openbox ended before managing $DISPLAY: $(tail -n 3 "$workdir/openbox.log")"
    sleep 0.05
  done
fi

status=0
"$@" || status=$?
exit $status
