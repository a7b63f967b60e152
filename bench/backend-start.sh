# Sourced by the backend benchmarks: start_backend BUILD LOG starts BUILD/backend/tarnwick-backend
# on a free loopback port with an empty configuration, its standard error in LOG, and sets `pid`
# and `port` (it exits the script if the backend does not start).
start_backend() {
  XDG_CONFIG_HOME=$(mktemp -d) "$1/backend/tarnwick-backend" --listen 127.0.0.1:0 2>"$2" &
  pid=$!
  port=""
  for _ in $(seq 1 200); do
    port=$(sed -n 's/.*listening on http:\/\/127\.0\.0\.1:\([0-9]*\) .*/\1/p' "$2")
    [ -n "$port" ] && return
    sleep 0.05
  done
  echo "the backend did not start:" >&2
  cat "$2" >&2
  exit 1
}
